#include "Video/ZVPixelBuffer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "Foundation/ZVException.h"
#include "Foundation/ZVLog.h"
#include "Foundation/ZVMutex.h"
#include "Video/ZVColorSpace.h"
#include "Video/ZVVideoAllocation.h"

namespace {
// How many sizes keep a pool: a recording, an export of another size and a snapshot run
// side by side without rebuilding each other's pool; the least recently used goes first.
constexpr size_t kPoolSizes = 4;

// The class-wide monitor and the pools it guards, one per size, the most recently used
// first. Never destroyed: buffers may go back to a pool from static destructors at exit.
struct SharedPool {
    ZVRecursiveMutex monitor;  // guards pools
    std::vector<std::shared_ptr<ZVPixelBufferPool>> pools ZV_GUARDED_BY(monitor);
};

SharedPool& sharedPool() {
    static SharedPool* shared = new SharedPool;
    return *shared;
}

// A side of a requested size as the pool takes it: truncated toward zero; nothing below 0.
uint32_t truncatedSide(float side) {
    if (!(side > 0)) return 0;
    if (side >= 4294967295.0f) return std::numeric_limits<uint32_t>::max();
    return static_cast<uint32_t>(side);
}

// What an internal-consistency check does when it fails: the method, the object and the
// source are logged, and the exception goes to the caller (it never returns an image).
[[noreturn]] void assertionFailure(const ZVPixelBuffer* self, const char* description) {
    ZVLog(
        "*** Assertion failure in -[ZVPixelBuffer createRGBImageFromBufferData] (%p), "
        "Video/ZVPixelBuffer: %s",
        static_cast<const void*>(self), description);
    throw ZVException("ZVInternalInconsistencyException", description);
}

// Blend result of one channel: the 32-bit float rounding and clamping, then the byte.
// Clamped as fclampf(v, 0, 1) does (NaN gives 0), without the two library calls per
// channel that cost more than the blend itself.
inline uint8_t blendedByte(double v) {
    const float f = static_cast<float>(v);
    const float low = f > 0.0f ? f : 0.0f;
    const float clamped = low < 1.0f ? low : 1.0f;
    return static_cast<uint8_t>(static_cast<int>(static_cast<double>(clamped) * 255.0));
}

// byte / 255.0 for every byte, the very quotients the blend divides out, looked up: the
// blend runs over every pixel of a 1920-wide key strip in each exported frame.
const std::array<double, 256> kByteToUnit = [] {
    std::array<double, 256> table{};
    for (int i = 0; i < 256; ++i) table[i] = i / 255.0;
    return table;
}();

// Spare row of flipBufferContents on the stack, in pieces when rows are longer.
constexpr size_t kFlipChunk = 16384;
}  // namespace

float fclampf(float value, float min, float max) {
    return fminf(fmaxf(min, value), max);
}

ZVPixelStorageRef ZVPixelBuffer::createPixelBufferWithSize(ZVSize size) {
    const uint32_t width = truncatedSide(size.width);
    const uint32_t height = truncatedSide(size.height);
    SharedPool& shared = sharedPool();
    ZVLockGuard<ZVRecursiveMutex> guard(shared.monitor);
    auto& pools = shared.pools;
    auto found = std::find_if(pools.begin(), pools.end(), [&](const auto& p) {
        return p->width() == width && p->height() == height;
    });
    int32_t status = kZVPixelBufferSuccess;
    if (found != pools.end()) {
        std::rotate(pools.begin(), found, found + 1);
    } else {
        auto pool = ZVPixelBufferPool::create(width, height, &status);
        if (!pool) {
            ZVLog("CVPixelBufferPoolCreate() failed with error %i", status);
            return nullptr;
        }
        pools.insert(pools.begin(), std::move(pool));
        if (pools.size() > kPoolSizes) pools.pop_back();
    }
    ZVPixelStorageRef buffer = pools.front()->createPixelBuffer(&status);
    if (!buffer) {
        ZVLog("CVPixelBufferPoolCreatePixelBuffer() failed with error %i", status);
        return nullptr;
    }
    return buffer;
}

void ZVPixelBuffer::releaseSharedPixelBufferPool() {
    SharedPool& shared = sharedPool();
    ZVLockGuard<ZVRecursiveMutex> guard(shared.monitor);
    shared.pools.clear();
}

std::shared_ptr<ZVPixelBufferPool> ZVPixelBuffer::sharedPixelBufferPool() {
    SharedPool& shared = sharedPool();
    ZVLockGuard<ZVRecursiveMutex> guard(shared.monitor);
    return shared.pools.empty() ? nullptr : shared.pools.front();
}

std::shared_ptr<ZVPixelBuffer> ZVPixelBuffer::initWithSize(ZVSize size) {
    std::shared_ptr<ZVPixelBuffer> buffer(new ZVPixelBuffer());
    if (!buffer->initializeWithSize(size)) return nullptr;
    return buffer;
}

std::shared_ptr<ZVPixelBuffer> ZVPixelBuffer::pixelBufferWithSize(ZVSize size) {
    return initWithSize(size);
}

bool ZVPixelBuffer::initializeWithSize(ZVSize size) {
    if (ZVMakeRect(0, 0, size.width, size.height).isEmpty()) {
        ZVLog("Wrong size for pixel buffer: %s", ZVStringFromSize(size).c_str());
        return false;
    }
    ZVPixelStorageRef buffer = createPixelBufferWithSize(size);
    if (!buffer)
        throw ZVException("Could not create pixel storage",
                          ZVFormat("Failed to allocate pixel buffer of size: %s",
                                   ZVStringFromSize(size).c_str()));
    _pixelBuffer = std::move(buffer);
    return true;
}

ZVPixelBuffer::~ZVPixelBuffer() = default;

void ZVPixelBuffer::setPixelBuffer(ZVPixelStorageRef buffer) {
    _pixelBuffer = std::move(buffer);
    _sharedPixels.reset();
    _negativeStride = _alphaIgnored = false;
}

void ZVPixelBuffer::sharePixelsOf(std::shared_ptr<const ZVPixelBuffer> source) {
    _pixelBuffer.reset();
    _negativeStride = source && source->_negativeStride;
    _alphaIgnored = source && source->_alphaIgnored;
    _sharedPixels = std::move(source);
}

const ZVPixelStorage* ZVPixelBuffer::storage() const {
    if (_pixelBuffer || !_sharedPixels) return _pixelBuffer.get();
    return _sharedPixels->storage();
}

void ZVPixelBuffer::ownPixels() const {
    const ZVPixelStorage* shared = storage();
    const uint8_t* from = _sharedPixels->memoryStart();
    _pixelBuffer = createPixelBufferWithSize(
        {static_cast<float>(shared->width()), static_cast<float>(shared->height())});
    if (_pixelBuffer && from) {
        _pixelBuffer->lockBaseAddress();
        std::memcpy(_pixelBuffer->baseAddress(), from, _pixelBuffer->dataSize());
        _pixelBuffer->unlockBaseAddress();
    }
    _sharedPixels.reset();
}

ZVPixelStorage* ZVPixelBuffer::coreVideoPixelBuffer() const {
    if (sharesPixels()) ownPixels();
    return _pixelBuffer.get();
}

int32_t ZVPixelBuffer::pixelsWidth() const {
    const ZVPixelStorage* s = storage();
    return s ? static_cast<int32_t>(s->width()) : 0;
}

int32_t ZVPixelBuffer::pixelsHeight() const {
    const ZVPixelStorage* s = storage();
    return s ? static_cast<int32_t>(s->height()) : 0;
}

int32_t ZVPixelBuffer::bytesPerRow() const {
    const ZVPixelStorage* s = storage();
    const int32_t stride = s ? static_cast<int32_t>(s->bytesPerRow()) : 0;
    return _negativeStride ? -stride : stride;
}

int32_t ZVPixelBuffer::bufferSize() const {
    const ZVPixelStorage* s = storage();
    return s ? static_cast<int32_t>(s->dataSize()) : 0;
}

int64_t ZVPixelBuffer::dataSize() const {
    return bufferSize();
}

uint8_t* ZVPixelBuffer::memoryStart() const {
    if (sharesPixels()) ownPixels();
    if (!_pixelBuffer) return nullptr;
    _pixelBuffer->lockBaseAddress();
    uint8_t* address = _pixelBuffer->baseAddress();
    _pixelBuffer->unlockBaseAddress();
    return address;
}

uint8_t* ZVPixelBuffer::baseAddress() const {
    uint8_t* start = memoryStart();
    if (!start || !_negativeStride) return start;
    return start + _pixelBuffer->bytesPerRow() * (_pixelBuffer->height() - 1);
}

void ZVPixelBuffer::lock() {
    if (sharesPixels()) ownPixels();
    if (_pixelBuffer) _pixelBuffer->lockBaseAddress();
}

void ZVPixelBuffer::unlock() {
    if (_pixelBuffer) _pixelBuffer->unlockBaseAddress();
}

void ZVPixelBuffer::clearBuffer() {
    if (uint8_t* start = memoryStart()) std::memset(start, 0, static_cast<size_t>(dataSize()));
}

bool ZVPixelBuffer::flipByStride() {
    if (!_negativeStride) return false;
    _negativeStride = false;
    return true;
}

void ZVPixelBuffer::flipImageData() {
    if (flipByStride()) return;
    const int32_t height = pixelsHeight();
    if (height < 2) return;
    const size_t stride = static_cast<size_t>(bytesPerRow());
    auto* spare = static_cast<uint8_t*>(ZVVideoMalloc(stride));
    if (!spare) {
        ZVLog("ME-8: flipImageData failed with malloc error");
        return;
    }
    uint8_t* base = baseAddress();
    for (int32_t i = 0; i < height / 2; ++i) {
        uint8_t* top = base + stride * i;
        uint8_t* bottom = base + stride * (height - 1 - i);
        std::memcpy(spare, top, stride);
        std::memcpy(top, bottom, stride);
        std::memcpy(bottom, spare, stride);
    }
    std::free(spare);
}

void ZVPixelBuffer::flipBufferContents() {
    if (flipByStride()) return;
    const int32_t height = pixelsHeight();
    if (height < 2) return;
    const size_t stride = static_cast<size_t>(bytesPerRow());
    const size_t pixelBytes = 4 * static_cast<size_t>(pixelsWidth());
    uint8_t spare[kFlipChunk];
    uint8_t* base = baseAddress();
    for (int32_t i = 0; i < height / 2; ++i) {
        uint8_t* top = base + stride * i;
        uint8_t* bottom = base + stride * (height - 1 - i);
        for (size_t done = 0; done < pixelBytes; done += kFlipChunk) {
            const size_t n = std::min(kFlipChunk, pixelBytes - done);
            std::memcpy(spare, top + done, n);
            std::memcpy(top + done, bottom + done, n);
            std::memcpy(bottom + done, spare, n);
        }
    }
}

std::shared_ptr<ZVImage> ZVPixelBuffer::createRGBImageFromBufferData() {
    flipImageData();
    std::shared_ptr<const ZVColorSpace> colorSpace = CreateSystemColorSpace();
    if (!colorSpace) assertionFailure(this, "CGColorSpace creation failure");
    // The picture is read straight from the buffer's rows: there must be some.
    if (!baseAddress() || pixelsWidth() <= 0 || pixelsHeight() <= 0)
        assertionFailure(this, "CGBitmapContextCreate failure");
    std::shared_ptr<ZVImage> image;
    try {
        image = ZVImage::create(pixelsWidth(), pixelsHeight(), ZVImage::Format::BGRX, baseAddress(),
                                static_cast<size_t>(bytesPerRow()), std::move(colorSpace));
    } catch (const std::bad_alloc&) {
    }
    if (!image) assertionFailure(this, "CGBitmapContextCreateImage failure");
    return image;
}

void ZVPixelBuffer::drawImage(const uint8_t* bytes, int32_t rowBytes, int32_t width, int32_t height,
                              int32_t format, float opacity, ZVPoint point) {
    if (static_cast<int64_t>(height) * width * 4 <= 0 || !bytes) return;
    uint8_t* const dst = baseAddress();
    if (!dst) return;
    const int64_t stride = bytesPerRow();  // negative: rows go down in memory
    const int64_t bufferWidth = pixelsWidth();
    const int64_t bufferHeight = pixelsHeight();
    // Truncated toward zero. A point so far out that no pixel can land is dropped here,
    // which also keeps the offset arithmetic below far from overflow.
    auto truncated = [](float v) -> int64_t {
        constexpr float kFar = 1099511627776.0f;  // 2^40
        if (std::isnan(v)) return 0;
        return static_cast<int64_t>(std::clamp(v, -kFar, kFar));
    };
    const int64_t px = truncated(point.x);
    const int64_t py = truncated(point.y);
    if (px >= bufferWidth || px + width <= 0 || py >= bufferHeight || py + height <= 0) return;
    const bool bgra = format == 1;
    const float weight = fclampf(opacity, 0.0f, 1.0f);

    // The same source over the same pixel blends to the same bytes: runs of them (a plain
    // fill over a plain background) are blended once.
    uint32_t lastSource = 0, lastPixel = 0, lastResult = 0;
    bool haveLast = false;
    for (int64_t r = 0; r < height; ++r) {
        if (r + py < 0 || r + py >= bufferHeight) continue;
        uint8_t* const row = dst + (r + py) * stride + 4 * px;
        for (int64_t c = 0; c < width; ++c) {
            if (c + px < 0 || c + px >= bufferWidth) continue;
            uint8_t* const d = row + 4 * c;
            const uint8_t* s = bytes + r * rowBytes + 4 * c;
            uint32_t sourceWord, pixelWord;
            std::memcpy(&sourceWord, s, 4);
            std::memcpy(&pixelWord, d, 4);
            if (haveLast && sourceWord == lastSource && pixelWord == lastPixel) {
                std::memcpy(d, &lastResult, 4);
                continue;
            }
            const uint8_t blue = bgra ? s[0] : s[2];
            const uint8_t green = s[1];
            const uint8_t red = bgra ? s[2] : s[0];
            const uint8_t alpha = s[3];

            const float t = static_cast<float>(alpha) * weight;
            const uint8_t tByte = static_cast<uint8_t>(static_cast<int>(t) & 0xFF);
            const double a = kByteToUnit[tByte];
            const double* unit = kByteToUnit.data();

            uint8_t p[4];
            std::memcpy(p, &pixelWord, 4);
            p[0] = blendedByte(unit[p[0]] * (1 - a) + unit[blue] * a);
            p[1] = blendedByte(unit[p[1]] * (1 - a) + unit[green] * a);
            p[2] = blendedByte(unit[p[2]] * (1 - a) + unit[red] * a);
            p[3] = blendedByte(a * a + unit[p[3]] * (1 - a));
            std::memcpy(&lastResult, p, 4);
            std::memcpy(d, &lastResult, 4);
            lastSource = sourceWord, lastPixel = pixelWord, haveLast = true;
        }
    }
}

void ZVPixelBuffer::drawBGRAImage(const uint8_t* bytes, int32_t rowBytes, int32_t width,
                                  int32_t height, float opacity, ZVPoint point) {
    drawImage(bytes, rowBytes, width, height, 1, opacity, point);
}

void ZVPixelBuffer::drawRGBAImage(const uint8_t* bytes, int32_t rowBytes, int32_t width,
                                  int32_t height, float opacity, ZVPoint point) {
    drawImage(bytes, rowBytes, width, height, 0, opacity, point);
}

std::shared_ptr<ZVPixelBuffer> ZVPixelBuffer::copy() const {
    std::shared_ptr<ZVPixelBuffer> copy =
        initWithSize({static_cast<float>(pixelsWidth()), static_cast<float>(pixelsHeight())});
    if (copy) copy->copyPixelsFrom(*this);
    return copy;
}

void ZVPixelBuffer::copyPixelsFrom(const ZVPixelBuffer& source) {
    uint8_t* to = memoryStart();
    const uint8_t* from = source.memoryStart();
    if (!to || !from) return;
    std::memcpy(to, from, static_cast<size_t>(std::min(bufferSize(), source.bufferSize())));
    _negativeStride = source._negativeStride;
    _alphaIgnored = source._alphaIgnored;
}
