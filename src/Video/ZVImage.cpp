#include "Video/ZVImage.h"

#include <cairo.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <string_view>

#include "Foundation/ZVLog.h"

namespace {
// Cairo's 32-bit formats are native-endian words: on a little-endian machine the bytes of
// RGB24 are blue, green, red, unused, the same as BGRX rows.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "pixel words are little-endian");

struct SurfaceCloser {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceCloser>;

// Turns a cairo image (premultiplied ARGB32 or opaque RGB24) into straight RGBA rows.
std::shared_ptr<ZVImage> imageFromSurface(cairo_surface_t* surface, const std::string& what) {
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        ZVLog("Could not read PNG image %s: %s", what.c_str(),
              cairo_status_to_string(cairo_surface_status(surface)));
        return nullptr;
    }
    cairo_surface_flush(surface);
    const cairo_format_t format = cairo_image_surface_get_format(surface);
    const int width = cairo_image_surface_get_width(surface);
    const int height = cairo_image_surface_get_height(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const uint8_t* src = cairo_image_surface_get_data(surface);
    if ((format != CAIRO_FORMAT_ARGB32 && format != CAIRO_FORMAT_RGB24) || !src || width <= 0 ||
        height <= 0) {
        ZVLog("Could not read PNG image %s: unsupported pixel layout", what.c_str());
        return nullptr;
    }
    std::vector<uint8_t> rgba(static_cast<size_t>(width) * 4 * height);
    for (int y = 0; y < height; ++y) {
        const uint8_t* in = src + static_cast<size_t>(stride) * y;
        uint8_t* out = rgba.data() + static_cast<size_t>(width) * 4 * y;
        for (int x = 0; x < width; ++x, in += 4, out += 4) {
            const unsigned a = format == CAIRO_FORMAT_ARGB32 ? in[3] : 255;
            // Un-premultiply with rounding; an opaque pixel comes back exactly.
            auto straight = [a](unsigned c) -> uint8_t {
                return a == 0 ? 0 : static_cast<uint8_t>(std::min(255u, (c * 255 + a / 2) / a));
            };
            out[0] = straight(in[2]);
            out[1] = straight(in[1]);
            out[2] = straight(in[0]);
            out[3] = static_cast<uint8_t>(a);
        }
    }
    return ZVImage::create(width, height, ZVImage::Format::RGBA, rgba.data(),
                           static_cast<size_t>(width) * 4);
}

struct ByteReader {
    const uint8_t* bytes;
    size_t length;
    size_t offset;
};

cairo_status_t readBytes(void* closure, unsigned char* data, unsigned int length) {
    auto* reader = static_cast<ByteReader*>(closure);
    if (reader->length - reader->offset < length) return CAIRO_STATUS_READ_ERROR;
    std::memcpy(data, reader->bytes + reader->offset, length);
    reader->offset += length;
    return CAIRO_STATUS_SUCCESS;
}

// Pictures read from PNG are artwork and screen shots; a header claiming more pixels than
// this is refused before any pixel memory is taken (a damaged file must not exhaust memory).
constexpr uint64_t kMaxPNGPixels = 1u << 25;

// The size from the header chunk, which PNG requires to come first; false when the bytes
// do not start like a PNG file.
bool pngHeaderSize(const uint8_t* bytes, size_t length, uint64_t* width, uint64_t* height) {
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (length < 24 || std::memcmp(bytes, kSignature, 8) != 0 ||
        std::memcmp(bytes + 12, "IHDR", 4) != 0)
        return false;
    auto be32 = [](const uint8_t* p) {
        return (uint64_t(p[0]) << 24) | (uint64_t(p[1]) << 16) | (uint64_t(p[2]) << 8) | p[3];
    };
    *width = be32(bytes + 16);
    *height = be32(bytes + 20);
    return true;
}

// The chunks that make the picture: header, palette, transparency, data, end. Every other
// chunk (text, profiles, times) is dropped before decoding, so a damaged or hostile one
// can never make the decoder allocate what it claims. False when a chunk claims more
// bytes than the file holds.
bool pictureChunks(const uint8_t* bytes, size_t length, std::vector<uint8_t>* out) {
    out->assign(bytes, bytes + 8);
    size_t offset = 8;
    while (offset < length) {
        if (length - offset < 12) return false;
        const uint8_t* chunk = bytes + offset;
        const size_t size = (size_t(chunk[0]) << 24) | (size_t(chunk[1]) << 16) |
                            (size_t(chunk[2]) << 8) | chunk[3];
        if (size > length - offset - 12) return false;
        const std::string_view type(reinterpret_cast<const char*>(chunk + 4), 4);
        if (type == "IHDR" || type == "PLTE" || type == "tRNS" || type == "IDAT" || type == "IEND")
            out->insert(out->end(), chunk, chunk + 12 + size);
        offset += 12 + size;
        if (type == "IEND") break;
    }
    return true;
}

std::shared_ptr<ZVImage> readPNGBytes(const uint8_t* bytes, size_t length,
                                      const std::string& what) {
    uint64_t width = 0, height = 0;
    std::vector<uint8_t> picture;
    if (!pngHeaderSize(bytes, length, &width, &height) || !pictureChunks(bytes, length, &picture)) {
        ZVLog("Could not read PNG image %s: not a PNG file", what.c_str());
        return nullptr;
    }
    if (width * height > kMaxPNGPixels) {
        ZVLog("Could not read PNG image %s: %llu x %llu pixels is too large", what.c_str(),
              static_cast<unsigned long long>(width), static_cast<unsigned long long>(height));
        return nullptr;
    }
    ByteReader reader{picture.data(), picture.size(), 0};
    Surface surface(cairo_image_surface_create_from_png_stream(readBytes, &reader));
    return imageFromSurface(surface.get(), what);
}
}  // namespace

ZVImage::ZVImage(int32_t width, int32_t height, Format format, std::vector<uint8_t> pixels,
                 std::shared_ptr<const ZVColorSpace> colorSpace)
    : _width(width),
      _height(height),
      _format(format),
      _pixels(std::move(pixels)),
      _colorSpace(std::move(colorSpace)) {}

std::shared_ptr<ZVImage> ZVImage::create(int32_t width, int32_t height, Format format,
                                         const uint8_t* rows, size_t bytesPerRow,
                                         std::shared_ptr<const ZVColorSpace> colorSpace) {
    // Cairo addresses rows with an int stride, so 4 × width must fit one.
    if (width <= 0 || height <= 0 || !rows || width > std::numeric_limits<int32_t>::max() / 4 ||
        bytesPerRow < static_cast<size_t>(width) * 4)
        return nullptr;
    const size_t tight = static_cast<size_t>(width) * 4;
    std::vector<uint8_t> pixels(tight * height);
    for (int32_t y = 0; y < height; ++y)
        std::memcpy(pixels.data() + tight * y, rows + bytesPerRow * y, tight);
    return std::shared_ptr<ZVImage>(
        new ZVImage(width, height, format, std::move(pixels), std::move(colorSpace)));
}

std::array<uint8_t, 4> ZVImage::rgbaAt(int32_t x, int32_t y) const {
    const uint8_t* p = row(y) + 4 * static_cast<size_t>(x);
    if (_format == Format::BGRX) return {p[2], p[1], p[0], 255};
    return {p[0], p[1], p[2], p[3]};
}

std::shared_ptr<ZVImage> ZVImage::readPNG(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<uint8_t> bytes;
    if (file) bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (!file && !file.eof()) {
        ZVLog("Could not read PNG image %s: %s", path.c_str(), std::strerror(errno));
        return nullptr;
    }
    return readPNGBytes(bytes.data(), bytes.size(), path);
}

std::shared_ptr<ZVImage> ZVImage::readPNGData(const uint8_t* bytes, size_t length) {
    return readPNGBytes(bytes, bytes ? length : 0, "(in memory)");
}

bool ZVImage::writePNG(const std::string& path) const {
    Surface surface;
    std::vector<uint8_t> premultiplied;
    if (_format == Format::BGRX) {
        // Cairo only reads the pixels while writing, so it may look at ours directly.
        surface.reset(cairo_image_surface_create_for_data(const_cast<uint8_t*>(data()),
                                                          CAIRO_FORMAT_RGB24, _width, _height,
                                                          static_cast<int>(bytesPerRow())));
    } else {
        // Cairo keeps alpha premultiplied and divides it out again when it writes the file.
        premultiplied.resize(_pixels.size());
        for (size_t i = 0; i < _pixels.size(); i += 4) {
            const unsigned a = _pixels[i + 3];
            auto pre = [a](unsigned c) { return static_cast<uint8_t>((c * a + 127) / 255); };
            premultiplied[i + 0] = pre(_pixels[i + 2]);
            premultiplied[i + 1] = pre(_pixels[i + 1]);
            premultiplied[i + 2] = pre(_pixels[i + 0]);
            premultiplied[i + 3] = static_cast<uint8_t>(a);
        }
        surface.reset(cairo_image_surface_create_for_data(premultiplied.data(), CAIRO_FORMAT_ARGB32,
                                                          _width, _height,
                                                          static_cast<int>(bytesPerRow())));
    }
    cairo_status_t status = cairo_surface_status(surface.get());
    if (status == CAIRO_STATUS_SUCCESS)
        status = cairo_surface_write_to_png(surface.get(), path.c_str());
    if (status != CAIRO_STATUS_SUCCESS) {
        ZVLog("Could not write PNG image %s: %s", path.c_str(), cairo_status_to_string(status));
        return false;
    }
    return true;
}
