#include "Video/ZVColorSpace.h"

std::shared_ptr<const ZVColorSpace> CreateSystemColorSpace() {
    return std::make_shared<const ZVColorSpace>("sRGB");
}
