#include "Platform/PipeWire/ZVPipeWireStream.h"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "Platform/PipeWire/ZVPipeWireConnection.h"

namespace {
// The largest cursor bitmap we make room for, and the metadata it needs.
constexpr size_t cursorMetaSize(int32_t w, int32_t h) {
    return sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) + size_t(w) * size_t(h) * 4;
}
// The newest buffer is held while the compositor fills others: ask for enough of them.
constexpr int32_t kBuffersWanted = 8, kBuffersAtLeast = 3, kBuffersAtMost = 32;
// Distinct cursor bitmaps remembered, so a cursor coming back brings its serial back.
constexpr size_t kCursorsKept = 256;

constexpr bool kLittle = std::endian::native == std::endian::little;
constexpr uint32_t kAlpha = kLittle ? 0xFF000000u : 0x000000FFu;
constexpr int kByte0 = kLittle ? 0 : 24, kByte2 = kLittle ? 16 : 8;

// One row of frame pixels to B, G, R, 0xFF; `swapRB` for the R-first formats.
template <bool swapRB>
void copyRow(const uint8_t* s, uint8_t* d, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t v;
        std::memcpy(&v, s + 4 * i, 4);
        if constexpr (swapRB) {
            const uint32_t b0 = (v >> kByte0) & 0xFF, b2 = (v >> kByte2) & 0xFF;
            v = (v & ~((0xFFu << kByte0) | (0xFFu << kByte2))) | (b0 << kByte2) | (b2 << kByte0);
        }
        v |= kAlpha;
        std::memcpy(d + 4 * i, &v, 4);
    }
}

void copyRow(const uint8_t* s, uint8_t* d, uint32_t n, bool swapRB) {
    if (swapRB)
        copyRow<true>(s, d, n);
    else
        copyRow<false>(s, d, n);
}

// A cursor bitmap in one of the formats compositors use, to B, G, R, A.
bool cursorPixels(uint32_t format, const uint8_t* s, uint32_t stride, int32_t w, int32_t h,
                  std::vector<uint8_t>& out) {
    int order[4];  // where B, G, R and A sit in a source pixel
    switch (format) {
        case SPA_VIDEO_FORMAT_BGRA:
            order[0] = 0, order[1] = 1, order[2] = 2, order[3] = 3;
            break;
        case SPA_VIDEO_FORMAT_RGBA:
            order[0] = 2, order[1] = 1, order[2] = 0, order[3] = 3;
            break;
        case SPA_VIDEO_FORMAT_ARGB:
            order[0] = 3, order[1] = 2, order[2] = 1, order[3] = 0;
            break;
        case SPA_VIDEO_FORMAT_ABGR:
            order[0] = 1, order[1] = 2, order[2] = 3, order[3] = 0;
            break;
        default:
            return false;
    }
    out.resize(size_t(w) * size_t(h) * 4);
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* row = s + size_t(y) * stride;
        uint8_t* d = out.data() + size_t(y) * size_t(w) * 4;
        for (int32_t x = 0; x < w; ++x)
            for (int c = 0; c < 4; ++c) d[4 * x + c] = row[4 * x + order[c]];
    }
    return true;
}
}  // namespace

// What the loop thread owns: the pw_stream, the negotiated format, the cursor bitmaps seen.
struct ZVPipeWireStream::Impl {
    ZVPipeWireStream* owner = nullptr;
    std::shared_ptr<ZVPipeWireConnection> connection;
    uint32_t nodeId = 0;
    pw_stream* stream = nullptr;
    spa_hook hook{};
    pw_stream_events events{};
    uint64_t listenerToken = 0;
    spa_video_info_raw format{};
    bool swapRB = false;
    std::vector<std::shared_ptr<const ZVCursorImage>> cursors;
    uint32_t nextSerial = 1;

    void end(const std::string& why);
    void onParamChanged(uint32_t id, const spa_pod* param);
    void onProcess();
    void onRemoveBuffer(pw_buffer* b);
    bool framePixels(pw_buffer* b, Frame& f) const;
    void readCursor(spa_buffer* b, Cursor& c);
    std::shared_ptr<const ZVCursorImage> cursorImage(ZVCursorImage&& image);
};

void ZVPipeWireStream::Impl::end(const std::string& why) {
    {
        ZVLockGuard<ZVMutex> g(owner->_frameLock);
        if (!owner->_end.empty()) return;
        owner->_end = why;
    }
    owner->_frameCame.notifyAll();
}

void ZVPipeWireStream::Impl::onParamChanged(uint32_t id, const spa_pod* param) {
    if (id != SPA_PARAM_Format || !param) return;
    uint32_t mediaType = 0, mediaSubtype = 0;
    if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 ||
        mediaType != SPA_MEDIA_TYPE_video || mediaSubtype != SPA_MEDIA_SUBTYPE_raw)
        return;
    spa_video_info_raw info{};
    if (spa_format_video_raw_parse(param, &info) < 0) return;
    format = info;
    swapRB = info.format == SPA_VIDEO_FORMAT_RGBx || info.format == SPA_VIDEO_FORMAT_RGBA;
    const spa_fraction r = info.framerate.num > 0 ? info.framerate : info.max_framerate;
    {
        ZVLockGuard<ZVMutex> g(owner->_frameLock);
        owner->_rate = r.num > 0 && r.denom > 0 ? double(r.num) / r.denom : 0;
    }
    // Buffers we can map for reading (no DMA-BUF: it may not be mappable), the header,
    // the cursor beside the frame and the crop of a window's frame.
    uint8_t space[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(space, sizeof space);
    const spa_pod* params[4];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(kBuffersWanted, kBuffersAtLeast, kBuffersAtMost),
        SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1), SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
    params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
        SPA_POD_Id(SPA_META_Header), SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))));
    params[2] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
        SPA_POD_Id(SPA_META_Cursor), SPA_PARAM_META_size,
        SPA_POD_CHOICE_RANGE_Int(int32_t(cursorMetaSize(64, 64)), int32_t(cursorMetaSize(1, 1)),
                                 int32_t(cursorMetaSize(256, 256)))));
    params[3] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
        SPA_POD_Id(SPA_META_VideoCrop), SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_region))));
    pw_stream_update_params(stream, params, 4);
}

bool ZVPipeWireStream::Impl::framePixels(pw_buffer* b, Frame& f) const {
    spa_buffer* sb = b->buffer;
    if (!sb || sb->n_datas < 1) return false;
    const spa_data& d = sb->datas[0];
    if (!d.data || !d.chunk || d.chunk->size == 0 || (d.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED))
        return false;
    if (auto* h = static_cast<spa_meta_header*>(
            spa_buffer_find_meta_data(sb, SPA_META_Header, sizeof(spa_meta_header))))
        if (h->flags & SPA_META_HEADER_FLAG_CORRUPTED) return false;
    int64_t x = 0, y = 0, w = format.size.width, h = format.size.height;
    if (auto* crop = static_cast<spa_meta_region*>(
            spa_buffer_find_meta_data(sb, SPA_META_VideoCrop, sizeof(spa_meta_region)))) {
        const spa_region& r = crop->region;
        if (r.size.width > 0 && r.size.height > 0 && r.position.x >= 0 && r.position.y >= 0 &&
            int64_t{r.position.x} + r.size.width <= w &&
            int64_t{r.position.y} + r.size.height <= h) {
            x = r.position.x, y = r.position.y, w = r.size.width, h = r.size.height;
        }
    }
    const int64_t stride = d.chunk->stride > 0 ? d.chunk->stride : int64_t{format.size.width} * 4;
    const int64_t offset = d.chunk->offset;
    // Whatever the producer claims, a reader never leaves the mapped memory.
    if (w <= 0 || h <= 0 || stride < (x + w) * 4 ||
        offset + (y + h - 1) * stride + (x + w) * 4 > int64_t{d.maxsize})
        return false;
    f.data = static_cast<const uint8_t*>(d.data) + offset + y * stride + x * 4;
    f.width = int32_t(w);
    f.height = int32_t(h);
    f.stride = uint32_t(stride);
    f.swapRB = swapRB;
    return true;
}

std::shared_ptr<const ZVCursorImage> ZVPipeWireStream::Impl::cursorImage(ZVCursorImage&& image) {
    for (const auto& c : cursors)
        if (c->width == image.width && c->height == image.height && c->hotX == image.hotX &&
            c->hotY == image.hotY && c->pixels == image.pixels)
            return c;
    if (cursors.size() >= kCursorsKept) cursors.clear();
    image.serial = nextSerial++;
    cursors.push_back(std::make_shared<const ZVCursorImage>(std::move(image)));
    return cursors.back();
}

void ZVPipeWireStream::Impl::readCursor(spa_buffer* b, Cursor& c) {
    spa_meta* m = spa_buffer_find_meta(b, SPA_META_Cursor);
    if (!m || !m->data || m->size < sizeof(spa_meta_cursor)) return;
    const auto* mc = static_cast<const spa_meta_cursor*>(m->data);
    c.known = true;
    if (mc->id == 0) return;  // nothing new about the cursor in this buffer
    c.x = mc->position.x;
    c.y = mc->position.y;
    if (mc->bitmap_offset < sizeof(spa_meta_cursor) ||
        size_t{mc->bitmap_offset} + sizeof(spa_meta_bitmap) > m->size)
        return;  // the same bitmap as before
    const auto* bm = reinterpret_cast<const spa_meta_bitmap*>(static_cast<const uint8_t*>(m->data) +
                                                              mc->bitmap_offset);
    const int64_t w = bm->size.width, h = bm->size.height;
    const int64_t stride = bm->stride > 0 ? bm->stride : w * 4;
    const int64_t room = int64_t{m->size} - mc->bitmap_offset;
    ZVCursorImage image;
    image.hotX = mc->hotspot.x;
    image.hotY = mc->hotspot.y;
    if (w > 0 && h > 0 && stride >= w * 4 && bm->offset >= sizeof(spa_meta_bitmap) &&
        int64_t{bm->offset} + (h - 1) * stride + w * 4 <= room) {
        const auto* pixels = reinterpret_cast<const uint8_t*>(bm) + bm->offset;
        if (cursorPixels(bm->format, pixels, uint32_t(stride), int32_t(w), int32_t(h),
                         image.pixels)) {
            image.width = int32_t(w);
            image.height = int32_t(h);
        }
    }
    // An empty bitmap is how a compositor says the cursor is hidden.
    c.image = cursorImage(std::move(image));
}

void ZVPipeWireStream::Impl::onProcess() {
    pw_buffer* newest = nullptr;
    Frame frame;
    Cursor cursor;
    {
        ZVLockGuard<ZVMutex> g(owner->_frameLock);
        cursor = owner->_cursor;
    }
    // Every queued buffer's cursor counts; only the newest picture is kept.
    while (pw_buffer* b = pw_stream_dequeue_buffer(stream)) {
        readCursor(b->buffer, cursor);
        Frame f;
        if (framePixels(b, f)) {
            if (newest) pw_stream_queue_buffer(stream, newest);
            newest = b;
            frame = f;
        } else {
            pw_stream_queue_buffer(stream, b);  // cursor-only or damaged
        }
    }
    cursor.visible = cursor.image && !cursor.image->isHidden();
    pw_buffer* old = nullptr;
    {
        ZVLockGuard<ZVMutex> g(owner->_frameLock);
        owner->_cursor = cursor;
        if (newest) {
            old = owner->_held;
            owner->_held = newest;
            owner->_frame = frame;
            ++owner->_frames;
        }
    }
    if (old) pw_stream_queue_buffer(stream, old);
    if (newest) owner->_frameCame.notifyAll();
}

void ZVPipeWireStream::Impl::onRemoveBuffer(pw_buffer* b) {
    ZVLockGuard<ZVMutex> g(owner->_frameLock);
    if (owner->_held != b) return;
    // The buffer goes (a format change, the end): readers keep its picture until the next.
    Frame& f = owner->_frame;
    std::vector<uint8_t> copy(size_t(f.width) * size_t(f.height) * 4);
    for (int32_t y = 0; y < f.height; ++y)
        std::memcpy(copy.data() + size_t(y) * size_t(f.width) * 4, f.data + size_t(y) * f.stride,
                    size_t(f.width) * 4);
    owner->_ownCopy = std::move(copy);
    f.data = owner->_ownCopy.data();
    f.stride = uint32_t(f.width) * 4;
    owner->_held = nullptr;
}

namespace {
struct LoopLock {
    pw_thread_loop* loop;
    explicit LoopLock(pw_thread_loop* l) : loop(l) { pw_thread_loop_lock(loop); }
    ~LoopLock() { pw_thread_loop_unlock(loop); }
};
}  // namespace

ZVPipeWireStream::ZVPipeWireStream(std::unique_ptr<Impl> impl) : _impl(std::move(impl)) {
    _impl->owner = this;
}

std::unique_ptr<ZVPipeWireStream> ZVPipeWireStream::open(
    std::shared_ptr<ZVPipeWireConnection> connection, uint32_t nodeId, std::string* error) {
    auto impl = std::make_unique<Impl>();
    impl->connection = connection;
    impl->nodeId = nodeId;
    std::unique_ptr<ZVPipeWireStream> s(new ZVPipeWireStream(std::move(impl)));
    Impl& i = *s->_impl;
    LoopLock lock(connection->loop());
    if (const std::string lost = connection->lostReason(); !lost.empty()) {
        if (error) *error = lost;
        return nullptr;
    }
    i.stream = pw_stream_new(connection->core(), "Zorvan screen",
                             pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                               "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    if (!i.stream) {
        if (error) *error = "PipeWire: cannot make a stream for node " + std::to_string(nodeId);
        return nullptr;
    }
    i.events.version = PW_VERSION_STREAM_EVENTS;
    i.events.state_changed = [](void* data, pw_stream_state, pw_stream_state state,
                                const char* message) {
        auto* self = static_cast<Impl*>(data);
        if (state == PW_STREAM_STATE_ERROR)
            self->end(std::string("PipeWire: ") + (message ? message : "stream error"));
        else if (state == PW_STREAM_STATE_UNCONNECTED)
            // The session manager drops a stream whose node it cannot find or link.
            self->end(self->format.size.width == 0
                          ? "node " + std::to_string(self->nodeId) + " could not be linked"
                          : "the stream was disconnected");
    };
    i.events.param_changed = [](void* data, uint32_t id, const spa_pod* param) {
        static_cast<Impl*>(data)->onParamChanged(id, param);
    };
    i.events.remove_buffer = [](void* data, pw_buffer* b) {
        static_cast<Impl*>(data)->onRemoveBuffer(b);
    };
    i.events.process = [](void* data) { static_cast<Impl*>(data)->onProcess(); };
    pw_stream_add_listener(i.stream, &i.hook, &i.events, &i);
    i.listenerToken = connection->addListener([&i](uint32_t id, const std::string& why) {
        if (id == i.nodeId || id == ZVPipeWireConnection::kConnectionLost) i.end(why);
    });

    // The formats we read without a conversion, any size, any rate.
    uint8_t space[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(space, sizeof space);
    const spa_rectangle sizeDefault = SPA_RECTANGLE(1920, 1080), sizeMin = SPA_RECTANGLE(1, 1),
                        sizeMax = SPA_RECTANGLE(16384, 16384);
    const spa_fraction rateDefault = SPA_FRACTION(60, 1), rateMin = SPA_FRACTION(0, 1),
                       rateMax = SPA_FRACTION(1000, 1);
    const spa_pod* params[1];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx,
                               SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&sizeDefault, &sizeMin, &sizeMax),
        SPA_FORMAT_VIDEO_framerate,
        SPA_POD_CHOICE_RANGE_Fraction(&rateDefault, &rateMin, &rateMax)));
    const auto flags = static_cast<pw_stream_flags>(
        PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_DONT_RECONNECT);
    if (const int res = pw_stream_connect(i.stream, PW_DIRECTION_INPUT, nodeId, flags, params, 1);
        res < 0) {
        if (error)
            *error = "PipeWire: cannot connect to node " + std::to_string(nodeId) + ": " +
                     std::strerror(-res);
        return nullptr;  // the destructor takes the loop lock: let go of it first
    }
    return s;
}

ZVPipeWireStream::~ZVPipeWireStream() {
    LoopLock lock(_impl->connection->loop());
    _impl->connection->removeListener(_impl->listenerToken);
    if (_impl->stream) {
        // Destroying it gives every buffer back, the held one too (remove_buffer).
        spa_hook_remove(&_impl->hook);
        pw_stream_destroy(_impl->stream);
    }
}

bool ZVPipeWireStream::waitForFrame(uint64_t seen, std::chrono::milliseconds timeout) {
    ZVLockGuard<ZVMutex> g(_frameLock);
    _frameCame.waitFor(_frameLock, timeout, [&]() ZV_NO_THREAD_SAFETY_ANALYSIS {
        return _frames > seen || !_end.empty();
    });
    return _frames > seen;
}

uint64_t ZVPipeWireStream::frameCount() const {
    ZVLockGuard<ZVMutex> g(_frameLock);
    return _frames;
}

std::pair<int32_t, int32_t> ZVPipeWireStream::pixelSize() const {
    ZVLockGuard<ZVMutex> g(_frameLock);
    return {_frame.width, _frame.height};
}

double ZVPipeWireStream::frameRate() const {
    ZVLockGuard<ZVMutex> g(_frameLock);
    return _rate;
}

ZVPipeWireStream::Cursor ZVPipeWireStream::cursor() const {
    ZVLockGuard<ZVMutex> g(_frameLock);
    return _cursor;
}

std::string ZVPipeWireStream::endReason() const {
    ZVLockGuard<ZVMutex> g(_frameLock);
    return _end;
}

bool ZVPipeWireStream::readRect(const ZVRect& rect, double scale, uint8_t* bottomLeft,
                                uint32_t stride, uint32_t maxRows, uint32_t maxBytesPerRow) {
    const int64_t x = std::llround(rect.origin.x), y = std::llround(rect.origin.y);
    const int64_t w = std::llround(rect.size.width), h = std::llround(rect.size.height);
    if (w <= 0 || h <= 0 || !bottomLeft || !(scale > 0)) return false;
    const bool unit = scale == 1.0;
    // The source pixel under the middle of logical unit v.
    auto source = [&](int64_t v) {
        return unit ? v : int64_t(std::floor((double(v) + 0.5) * scale));
    };
    ZVLockGuard<ZVMutex> g(_frameLock);
    const Frame f = _frame;
    if (!f.data) return false;
    // Columns [i0, i1) and lines [j0, j1) of the rectangle land inside the frame and the
    // destination; the line j goes to destination row h - 1 - j.
    int64_t i0 = 0, i1 = std::min<int64_t>(w, maxBytesPerRow / 4);
    while (i0 < i1 && source(x + i0) < 0) ++i0;
    while (i1 > i0 && source(x + i1 - 1) >= f.width) --i1;
    int64_t j0 = std::max<int64_t>(0, h - int64_t{maxRows}), j1 = h;
    while (j0 < j1 && source(y + j0) < 0) ++j0;
    while (j1 > j0 && source(y + j1 - 1) >= f.height) --j1;
    if (i0 >= i1 || j0 >= j1) return false;
    std::vector<int64_t> columns;
    if (!unit)
        for (int64_t i = i0; i < i1; ++i) columns.push_back(source(x + i) * 4);
    for (int64_t j = j0; j < j1; ++j) {
        const uint8_t* s = f.data + source(y + j) * int64_t{f.stride};
        uint8_t* d = bottomLeft + (h - 1 - j) * int64_t{stride} + i0 * 4;
        if (unit) {
            copyRow(s + (x + i0) * 4, d, uint32_t(i1 - i0), f.swapRB);
        } else {
            for (size_t k = 0; k < columns.size(); ++k)
                copyRow(s + columns[k], d + 4 * k, 1, f.swapRB);
        }
    }
    return true;
}

std::optional<ZVRawImage> ZVPipeWireStream::image() {
    ZVLockGuard<ZVMutex> g(_frameLock);
    const Frame f = _frame;
    if (!f.data) return std::nullopt;
    ZVRawImage out;
    out.width = f.width;
    out.height = f.height;
    out.bytesPerRow = uint32_t(f.width) * 4;
    out.pixels.resize(size_t(out.bytesPerRow) * size_t(f.height));
    for (int32_t y = 0; y < f.height; ++y)
        copyRow(f.data + size_t(y) * f.stride, out.pixels.data() + size_t(y) * out.bytesPerRow,
                uint32_t(f.width), f.swapRB);
    return out;
}
