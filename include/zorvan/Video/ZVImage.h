#pragma once
// A picture in memory, independent of any pixel buffer: rows top row first, four bytes per
// pixel, either BGRX (blue, green, red, ignored byte: what screen pixels are) or RGBA
// (straight, not premultiplied alpha: what click marks and other artwork are). It can be
// written to and read from PNG files.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Video/ZVColorSpace.h"

class ZVImage {
  public:
    enum class Format {
        BGRX,  // bytes blue, green, red, then a byte that is ignored (opaque)
        RGBA,  // bytes red, green, blue, alpha; alpha not premultiplied
    };

    // A copy of `height` rows of `width` pixels starting at `rows`, `bytesPerRow` apart,
    // the first row being the top. nullptr when a side is not positive or the stride is
    // below 4 × width. Any thread.
    static std::shared_ptr<ZVImage> create(int32_t width, int32_t height, Format format,
                                           const uint8_t* rows, size_t bytesPerRow,
                                           std::shared_ptr<const ZVColorSpace> colorSpace = {});

    // Reads a PNG file into an RGBA image; nullptr (after a log line naming the file) when
    // it cannot be read or is not a PNG. Pixels whose alpha is below 255 may differ by one
    // in their colour bytes from what was stored. Any thread.
    static std::shared_ptr<ZVImage> readPNG(const std::string& path);
    // The same from PNG bytes in memory (a resource, a fuzzer's input). Any thread.
    static std::shared_ptr<ZVImage> readPNGData(const uint8_t* bytes, size_t length);

    // Writes the image as a PNG file: RGB for BGRX images, RGBA with alpha for RGBA images.
    // False (after a log line naming the file) when it cannot be written. Any thread.
    bool writePNG(const std::string& path) const;

    int32_t width() const { return _width; }
    int32_t height() const { return _height; }
    // Tight rows: 4 × width. Any thread.
    size_t bytesPerRow() const { return static_cast<size_t>(_width) * 4; }
    Format format() const { return _format; }
    const std::shared_ptr<const ZVColorSpace>& colorSpace() const { return _colorSpace; }
    const uint8_t* data() const { return _pixels.data(); }
    // Row y counted from the top. Any thread.
    const uint8_t* row(int32_t y) const { return data() + bytesPerRow() * y; }
    // Red, green, blue, alpha of the pixel at column x, row y from the top; alpha 255 for
    // BGRX images. Any thread.
    std::array<uint8_t, 4> rgbaAt(int32_t x, int32_t y) const;

  private:
    ZVImage(int32_t width, int32_t height, Format format, std::vector<uint8_t> pixels,
            std::shared_ptr<const ZVColorSpace> colorSpace);

    int32_t _width;
    int32_t _height;
    Format _format;
    std::vector<uint8_t> _pixels;
    std::shared_ptr<const ZVColorSpace> _colorSpace;
};
