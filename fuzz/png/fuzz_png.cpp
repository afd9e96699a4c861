// PNG artwork is read from resource files that a user may have replaced or damaged: any
// bytes must give an image or nothing, and an image must be whole.
#include <cstddef>
#include <cstdint>

#include "Video/ZVImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (auto image = ZVImage::readPNGData(data, size)) {
        // Touch the last pixel: the rows must all be there.
        volatile uint8_t last = image->rgbaAt(image->width() - 1, image->height() - 1)[3];
        (void)last;
    }
    return 0;
}
