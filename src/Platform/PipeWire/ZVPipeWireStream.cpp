#include "Platform/PipeWire/ZVPipeWireStream.h"

#include <linux/dma-buf.h>
#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <sys/ioctl.h>
#include <sys/mman.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "Platform/PipeWire/ZVPipeWireConnection.h"
#include "Platform/PipeWire/ZVPipeWireCursorMeta.h"
#include "Video/ZVPixelBufferPool.h"

namespace {
// The metadata a cursor bitmap of w x h needs. We offer room for 64 x 64 and accept what
// room a compositor fixes between 1 x 1 and 1024 x 1024.
constexpr size_t cursorMetaSize(int32_t w, int32_t h) {
    return sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) + size_t(w) * size_t(h) * 4;
}
// The newest buffer is held while the compositor fills others: ask for enough of them.
constexpr int32_t kBuffersWanted = 8, kBuffersAtLeast = 3, kBuffersAtMost = 32;
// Damage regions we offer room for in each buffer, and the fewest we accept; a reader's
// list grows to at most kMostDamageRects before it becomes the rectangle bounding them
// (splitting the comparison finer saves less than walking the list costs).
constexpr int32_t kDamageRegions = 16, kDamageRegionsAtLeast = 1, kDamageRegionsAtMost = 64;
constexpr size_t kMostDamageRects = 64;
// Readers whose damage is gathered (one per recording thread); the oldest is forgotten
// beyond that, and is told "unknown" if it comes back.
constexpr size_t kDamageReadersKept = 8;
// Pictures whose damage is kept, so that a memory holding one of them is brought up to date
// by copying what changed since; and memories remembered with the picture they hold. A
// memory is copied whole at least this often, so a change the producer left unsaid reaches
// every memory a reader copies into.
constexpr size_t kHistoryKept = 16, kFilledKept = 16;
constexpr auto kWholeCopyInterval = std::chrono::seconds(1);
// Distinct cursor bitmaps remembered, so a cursor coming back brings its serial back.
constexpr size_t kCursorsKept = 256;

// DRM_FORMAT_MOD_LINEAR: rows one after another, as the CPU reads them. Every other
// modifier (tiled, compressed) is a layout only the GPU that made it can read.
constexpr uint64_t kLinearModifier = 0;

// Brackets the CPU's reads of a DMA-BUF, so that a device's caches are written back before
// and nothing is left half-read for it after. Memory the driver keeps coherent needs no
// sync and may answer ENOTTY: it is read all the same.
struct DmaBufReads {
    explicit DmaBufReads(int fd) : fd(fd) { sync(DMA_BUF_SYNC_START); }
    ~DmaBufReads() { sync(DMA_BUF_SYNC_END); }
    DmaBufReads(const DmaBufReads&) = delete;
    DmaBufReads& operator=(const DmaBufReads&) = delete;
    void sync(uint64_t when) const {
        if (fd < 0) return;
        dma_buf_sync s{when | DMA_BUF_SYNC_READ};
        while (ioctl(fd, DMA_BUF_IOCTL_SYNC, &s) < 0 && (errno == EINTR || errno == EAGAIN)) {
        }
    }
    int fd;
};

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

// `r` clipped to `area`, from the area's corner; false when nothing is left.
bool clipTo(const ZVDamageRect& r, const ZVDamageRect& area, ZVDamageRect& out) {
    const int64_t x0 = std::max<int64_t>(r.x, area.x), y0 = std::max<int64_t>(r.y, area.y);
    const int64_t x1 = std::min<int64_t>(int64_t{r.x} + r.width, int64_t{area.x} + area.width);
    const int64_t y1 = std::min<int64_t>(int64_t{r.y} + r.height, int64_t{area.y} + area.height);
    if (x0 >= x1 || y0 >= y1) return false;
    out = ZVDamageRect{int32_t(x0 - area.x), int32_t(y0 - area.y), int32_t(x1 - x0),
                       int32_t(y1 - y0)};
    return true;
}

// The rectangle bounding all of `rects` (not empty).
ZVDamageRect bounds(const ZVDamage& rects) {
    int32_t x0 = rects[0].x, y0 = rects[0].y, x1 = x0 + rects[0].width, y1 = y0 + rects[0].height;
    for (const ZVDamageRect& r : rects) {
        x0 = std::min(x0, r.x), y0 = std::min(y0, r.y);
        x1 = std::max(x1, r.x + r.width), y1 = std::max(y1, r.y + r.height);
    }
    return ZVDamageRect{x0, y0, x1 - x0, y1 - y0};
}

void copyRow(const uint8_t* s, uint8_t* d, uint32_t n, bool swapRB) {
    if (swapRB)
        copyRow<true>(s, d, n);
    else
        copyRow<false>(s, d, n);
}

// The formats we read without a conversion, any size, any rate; with `dmaBuf`, as linear
// DMA-BUFs (the producer fixes the modifier: the property is left open for it).
const spa_pod* enumFormat(spa_pod_builder& b, bool dmaBuf) {
    const spa_rectangle sizeDefault = SPA_RECTANGLE(1920, 1080), sizeMin = SPA_RECTANGLE(1, 1),
                        sizeMax = SPA_RECTANGLE(16384, 16384);
    const spa_fraction rateDefault = SPA_FRACTION(60, 1), rateMin = SPA_FRACTION(0, 1),
                       rateMax = SPA_FRACTION(1000, 1);
    spa_pod_frame object;
    spa_pod_builder_push_object(&b, &object, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
    spa_pod_builder_add(
        &b, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx,
                               SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&sizeDefault, &sizeMin, &sizeMax),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&rateDefault, &rateMin, &rateMax),
        0);
    if (dmaBuf) ZVPipeWireStream::addModifiers(b, {kLinearModifier}, true);
    return static_cast<const spa_pod*>(spa_pod_builder_pop(&b, &object));
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
    // The picture of the last buffer taken: damage is only said against it, so a new size
    // or crop is no damage, and neither is the first picture in new buffers (a format
    // change: the producer's first frames in them may say less than changed).
    Frame lastTaken;
    // The producer's number of the last buffer taken. A link whose consumer was late hands
    // the producer an unread buffer back for reuse, so a gap in the numbers is a picture
    // (and its damage) we never saw.
    std::optional<uint64_t> lastSeq;

    void end(const std::string& why);
    void onParamChanged(uint32_t id, const spa_pod* param);
    void onProcess();
    void onAddBuffer(pw_buffer* b);
    void onRemoveBuffer(pw_buffer* b);
    bool framePixels(pw_buffer* b, Frame& f) const;
    void readCursor(spa_buffer* b, Cursor& c);
    bool readDamage(spa_buffer* b, const Frame& f, ZVDamage& out) const;
    bool followsLastTaken(spa_buffer* b);
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
    const spa_pod_prop* modifier = spa_pod_find_prop(param, nullptr, SPA_FORMAT_VIDEO_modifier);
    // The producer has yet to choose: it offers the format again with one modifier.
    if (modifier && (modifier->flags & SPA_POD_PROP_FLAG_DONT_FIXATE)) return;
    spa_video_info_raw info{};
    if (spa_format_video_raw_parse(param, &info) < 0) return;
    if (modifier && info.modifier != kLinearModifier) {
        // A tiled or compressed layout the CPU cannot read: ask for shared memory alone.
        uint8_t space[512];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(space, sizeof space);
        const spa_pod* shared = enumFormat(b, false);
        pw_stream_update_params(stream, &shared, 1);
        return;
    }
    const uint32_t memory =
        modifier ? 1u << SPA_DATA_DmaBuf : (1u << SPA_DATA_MemFd) | (1u << SPA_DATA_MemPtr);
    format = info;
    lastTaken = Frame{};
    swapRB = info.format == SPA_VIDEO_FORMAT_RGBx || info.format == SPA_VIDEO_FORMAT_RGBA;
    const spa_fraction r = info.framerate.num > 0 ? info.framerate : info.max_framerate;
    {
        ZVLockGuard<ZVMutex> g(owner->_frameLock);
        owner->_rate = r.num > 0 && r.denom > 0 ? double(r.num) / r.denom : 0;
    }
    // Buffers we can map for reading (a DMA-BUF only in the linear layout), the header,
    // the cursor beside the frame, the crop of a window's frame and where it changed.
    uint8_t space[1536];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(space, sizeof space);
    const spa_pod* params[5];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(kBuffersWanted, kBuffersAtLeast, kBuffersAtMost),
        SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1), SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int(int32_t(memory))));
    params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
        SPA_POD_Id(SPA_META_Header), SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))));
    params[2] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
        SPA_POD_Id(SPA_META_Cursor), SPA_PARAM_META_size,
        SPA_POD_CHOICE_RANGE_Int(int32_t(cursorMetaSize(64, 64)), int32_t(cursorMetaSize(1, 1)),
                                 int32_t(cursorMetaSize(1024, 1024)))));
    params[3] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
        SPA_POD_Id(SPA_META_VideoCrop), SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_region))));
    constexpr auto regions = [](int32_t n) { return n * int32_t(sizeof(spa_meta_region)); };
    params[4] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
        SPA_POD_Id(SPA_META_VideoDamage), SPA_PARAM_META_size,
        SPA_POD_CHOICE_RANGE_Int(regions(kDamageRegions), regions(kDamageRegionsAtLeast),
                                 regions(kDamageRegionsAtMost))));
    pw_stream_update_params(stream, params, 5);
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
    f.cropX = int32_t(x);
    f.cropY = int32_t(y);
    f.dmaBufFd = d.type == SPA_DATA_DmaBuf ? int(d.fd) : -1;
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
    if (!m || !m->data) return;
    c.known = true;
    ZVPipeWireCursorMeta meta = ZVReadPipeWireCursorMeta(m->data, m->size);
    if (!meta.valid) return;
    c.x = meta.x;
    c.y = meta.y;
    if (meta.image) c.image = cursorImage(std::move(*meta.image));
}

bool ZVPipeWireStream::Impl::readDamage(spa_buffer* b, const Frame& f, ZVDamage& out) const {
    spa_meta* m = spa_buffer_find_meta(b, SPA_META_VideoDamage);
    if (!m || !m->data) return false;
    // The list ends at its first empty region or at the end of the room: an empty first
    // one says nothing about where the picture changed.
    const auto* regions = static_cast<const spa_meta_region*>(m->data);
    const size_t n = m->size / sizeof(spa_meta_region);
    const ZVDamageRect picture{f.cropX, f.cropY, f.width, f.height};
    size_t i = 0;
    for (; i < n && spa_meta_region_is_valid(&regions[i]); ++i) {
        const spa_region& r = regions[i].region;
        const ZVDamageRect damaged{r.position.x, r.position.y,
                                   int32_t(std::min<uint32_t>(r.size.width, INT32_MAX)),
                                   int32_t(std::min<uint32_t>(r.size.height, INT32_MAX))};
        ZVDamageRect clipped;
        if (clipTo(damaged, picture, clipped)) out.push_back(clipped);
    }
    // A list that fills all its room may have been cut short.
    return i > 0 && i < n;
}

bool ZVPipeWireStream::Impl::followsLastTaken(spa_buffer* b) {
    const auto* h = static_cast<const spa_meta_header*>(
        spa_buffer_find_meta_data(b, SPA_META_Header, sizeof(spa_meta_header)));
    const std::optional<uint64_t> before = lastSeq;
    lastSeq = h ? std::optional<uint64_t>(h->seq) : std::nullopt;
    return h && before && h->seq == *before + 1;
}

void ZVPipeWireStream::Impl::onProcess() {
    pw_buffer* newest = nullptr;
    Frame frame;
    Cursor cursor;
    {
        ZVLockGuard<ZVMutex> g(owner->_frameLock);
        cursor = owner->_cursor;
    }
    // Where the pictures taken now changed since the one handed over last: every buffer's
    // damage counts, the skipped ones' too.
    std::optional<ZVDamage> damage = ZVDamage{};
    // Every queued buffer's cursor counts; only the newest picture is kept.
    while (pw_buffer* b = pw_stream_dequeue_buffer(stream)) {
        readCursor(b->buffer, cursor);
        // Without numbers a lost buffer could not be told.
        if (!followsLastTaken(b->buffer)) damage.reset();
        Frame f;
        if (framePixels(b, f)) {
            const bool samePlace = f.width == lastTaken.width && f.height == lastTaken.height &&
                                   f.cropX == lastTaken.cropX && f.cropY == lastTaken.cropY;
            if (damage && (!samePlace || !readDamage(b->buffer, f, *damage))) damage.reset();
            lastTaken = f;
            if (newest) pw_stream_queue_buffer(stream, newest);
            newest = b;
            frame = f;
        } else {
            // A picture left out (corrupted, or beyond the mapped memory) still changed
            // what the next one is said against; a cursor-only buffer changed nothing.
            const spa_buffer* sb = b->buffer;
            if (!sb || sb->n_datas < 1 || !sb->datas[0].chunk || sb->datas[0].chunk->size > 0)
                damage.reset();
            pw_stream_queue_buffer(stream, b);  // cursor-only or damaged
        }
    }
    cursor.visible = cursor.image && !cursor.image->isHidden();
    pw_buffer* old = nullptr;
    std::vector<uint8_t> oldCopy;  // freed once the lock is let go
    {
        ZVLockGuard<ZVMutex> g(owner->_frameLock);
        owner->_cursor = cursor;
        if (newest) {
            old = owner->_held;
            owner->_held = newest;
            owner->_frame = frame;
            oldCopy.swap(owner->_ownCopy);
            ++owner->_frames;
            owner->addDamage(damage);
        }
    }
    if (old) pw_stream_queue_buffer(stream, old);
    if (newest) owner->_frameCame.notifyAll();
}

void ZVPipeWireStream::Impl::onAddBuffer(pw_buffer* b) {
    lastTaken = Frame{};
    lastSeq.reset();
    // PipeWire maps shared memory for us, and a DMA-BUF only where it is marked mappable.
    if (!b->buffer || b->buffer->n_datas < 1) return;
    spa_data& d = b->buffer->datas[0];
    if (d.type != SPA_DATA_DmaBuf || d.data || d.fd < 0 || d.maxsize == 0) return;
    const size_t length = size_t(d.mapoffset) + d.maxsize;
    void* base = mmap(nullptr, length, PROT_READ, MAP_SHARED, int(d.fd), 0);
    if (base == MAP_FAILED) return;  // framePixels leaves its frames out
    b->user_data = base;
    d.data = static_cast<uint8_t*>(base) + d.mapoffset;
}

void ZVPipeWireStream::Impl::onRemoveBuffer(pw_buffer* b) {
    lastTaken = Frame{};
    lastSeq.reset();
    {
        ZVLockGuard<ZVMutex> g(owner->_frameLock);
        if (owner->_held == b) {
            // The buffer goes (a format change, the end): readers keep its picture until
            // the next.
            Frame& f = owner->_frame;
            std::vector<uint8_t> copy(size_t(f.width) * size_t(f.height) * 4);
            {
                DmaBufReads reads(f.dmaBufFd);
                for (int32_t y = 0; y < f.height; ++y)
                    std::memcpy(copy.data() + size_t(y) * size_t(f.width) * 4,
                                f.data + size_t(y) * f.stride, size_t(f.width) * 4);
            }
            owner->_ownCopy = std::move(copy);
            f.data = owner->_ownCopy.data();
            f.stride = uint32_t(f.width) * 4;
            f.dmaBufFd = -1;
            owner->_held = nullptr;
        }
    }
    if (b->user_data && b->buffer && b->buffer->n_datas > 0) {
        spa_data& d = b->buffer->datas[0];
        munmap(b->user_data, size_t(d.mapoffset) + d.maxsize);
        b->user_data = nullptr;
        d.data = nullptr;
    }
}

void ZVPipeWireStream::addModifiers(spa_pod_builder& b, const std::vector<uint64_t>& modifiers,
                                    bool open) {
    if (modifiers.empty()) return;
    spa_pod_builder_prop(&b, SPA_FORMAT_VIDEO_modifier,
                         SPA_POD_PROP_FLAG_MANDATORY | (open ? SPA_POD_PROP_FLAG_DONT_FIXATE : 0));
    spa_pod_frame choice;
    spa_pod_builder_push_choice(&b, &choice, SPA_CHOICE_Enum, 0);
    spa_pod_builder_long(&b, int64_t(modifiers[0]));  // the default, then the choices
    for (uint64_t m : modifiers) spa_pod_builder_long(&b, int64_t(m));
    spa_pod_builder_pop(&b, &choice);
}

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
    ZVPipeWireConnection::Lock lock(*connection);
    if (const std::string lost = connection->lostReason(); !lost.empty()) {
        i.end(lost);  // ended before it began, for the same reason as its siblings
        return s;
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
    i.events.add_buffer = [](void* data, pw_buffer* b) {
        static_cast<Impl*>(data)->onAddBuffer(b);
    };
    i.events.remove_buffer = [](void* data, pw_buffer* b) {
        static_cast<Impl*>(data)->onRemoveBuffer(b);
    };
    i.events.process = [](void* data) { static_cast<Impl*>(data)->onProcess(); };
    pw_stream_add_listener(i.stream, &i.hook, &i.events, &i);
    i.listenerToken = connection->addListener([&i](uint32_t id, const std::string& why) {
        if (id == i.nodeId || id == ZVPipeWireConnection::kConnectionLost) i.end(why);
    });

    // Linear DMA-BUFs first, shared memory where the producer cannot give those.
    uint8_t space[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(space, sizeof space);
    const spa_pod* params[] = {enumFormat(b, true), enumFormat(b, false)};
    const auto flags = static_cast<pw_stream_flags>(
        PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_DONT_RECONNECT);
    if (const int res = pw_stream_connect(i.stream, PW_DIRECTION_INPUT, nodeId, flags, params, 2);
        res < 0) {
        if (error)
            *error = "PipeWire: cannot connect to node " + std::to_string(nodeId) + ": " +
                     std::strerror(-res);
        return nullptr;  // the destructor takes the loop lock: let go of it first
    }
    return s;
}

ZVPipeWireStream::~ZVPipeWireStream() {
    ZVPipeWireConnection::Lock lock(*_impl->connection);
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

void ZVPipeWireStream::addDamage(const std::optional<ZVDamage>& damage) {
    _history.push_back(damage);
    if (_history.back() && _history.back()->size() > kMostDamageRects)
        _history.back() = ZVDamage{bounds(*_history.back())};
    if (_history.size() > kHistoryKept) _history.pop_front();
    for (DamageReader& d : _damageReaders) {
        if (!damage) d.known = false;
        if (!d.known) {
            d.rects.clear();
            continue;
        }
        ZVDamageRect clipped;
        for (const ZVDamageRect& r : *damage)
            if (clipTo(r, d.area, clipped)) d.rects.push_back(clipped);
        if (d.rects.size() > kMostDamageRects) d.rects = {bounds(d.rects)};
    }
}

std::optional<ZVDamage> ZVPipeWireStream::takeDamage(uint64_t reader, const ZVDamageRect& area) {
    ZVLockGuard<ZVMutex> g(_frameLock);
    auto d = std::find_if(_damageReaders.begin(), _damageReaders.end(),
                          [&](const DamageReader& r) { return r.reader == reader; });
    if (d == _damageReaders.end()) {
        if (_damageReaders.size() >= kDamageReadersKept)
            _damageReaders.erase(_damageReaders.begin());
        _damageReaders.push_back(DamageReader{reader, area, true, {}});
        return std::nullopt;  // gathered from now on
    }
    const bool sameArea = d->area.x == area.x && d->area.y == area.y &&
                          d->area.width == area.width && d->area.height == area.height;
    std::optional<ZVDamage> out;
    if (sameArea && d->known) out = std::move(d->rects);
    *d = DamageReader{reader, area, true, {}};
    return out;
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
    DmaBufReads reads(f.dmaBufFd);
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

std::optional<ZVDamage> ZVPipeWireStream::changedSince(uint64_t since,
                                                       const ZVDamageRect& area) const {
    // _history.back() is picture _frames.
    if (since > _frames || _frames - since > _history.size()) return std::nullopt;
    ZVDamage out;
    ZVDamageRect clipped;
    for (auto h = _history.end() - std::ptrdiff_t(_frames - since); h != _history.end(); ++h) {
        if (!*h) return std::nullopt;
        for (const ZVDamageRect& r : **h)
            if (clipTo(r, area, clipped)) out.push_back(clipped);
    }
    if (out.size() > kMostDamageRects) out = {bounds(out)};
    return out;
}

bool ZVPipeWireStream::copyInto(const ZVDamageRect& area, ZVPixelStorage& buffer) {
    const size_t stride = buffer.bytesPerRow();
    uint8_t* const top = buffer.baseAddress();
    const std::shared_ptr<ZVPixelMemory>& memory = buffer.memory();
    const auto now = std::chrono::steady_clock::now();
    ZVLockGuard<ZVMutex> g(_frameLock);
    const Frame f = _frame;
    if (!f.data || f.swapRB || area.x < 0 || area.y < 0 || area.width <= 0 || area.height <= 0 ||
        int64_t{area.x} + area.width > f.width || int64_t{area.y} + area.height > f.height ||
        int64_t{buffer.width()} != area.width || int64_t{buffer.height()} != area.height ||
        stride < size_t(area.width) * 4 || !top || !memory)
        return false;
    const uint64_t handOuts = memory->handOuts.load(std::memory_order_relaxed);
    auto held = std::find_if(_filled.begin(), _filled.end(), [&](const Filled& m) {
        return !m.memory.owner_before(memory) && !memory.owner_before(m.memory);
    });
    // Only a memory nobody else has had since this stream filled it still holds that picture.
    std::optional<ZVDamage> changed;
    if (held != _filled.end() && held->handOuts + 1 == handOuts && held->area.x == area.x &&
        held->area.y == area.y && held->area.width == area.width &&
        held->area.height == area.height && now - held->wholeAt < kWholeCopyInterval)
        changed = changedSince(held->picture, area);
    if (!changed) changed = ZVDamage{ZVDamageRect{0, 0, area.width, area.height}};
    DmaBufReads reads(f.dmaBufFd);
    for (const ZVDamageRect& r : *changed) {
        const uint8_t* s = f.data + int64_t{area.y + r.y} * f.stride + int64_t{area.x + r.x} * 4;
        uint8_t* d = top + size_t(r.y) * stride + size_t(r.x) * 4;
        for (int32_t j = 0; j < r.height; ++j, s += f.stride, d += stride)
            std::memcpy(d, s, size_t(r.width) * 4);
    }
    if (held == _filled.end()) {
        std::erase_if(_filled, [](const Filled& m) { return m.memory.expired(); });
        if (_filled.size() >= kFilledKept) _filled.erase(_filled.begin());
        held = _filled.insert(_filled.end(), Filled{memory, 0, 0, area, now});
    }
    const bool whole = changed->size() == 1 && (*changed)[0].width == area.width &&
                       (*changed)[0].height == area.height;
    *held = Filled{memory, handOuts, _frames, area, whole ? now : held->wholeAt};
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
    DmaBufReads reads(f.dmaBufFd);
    for (int32_t y = 0; y < f.height; ++y)
        copyRow(f.data + size_t(y) * f.stride, out.pixels.data() + size_t(y) * out.bytesPerRow,
                uint32_t(f.width), f.swapRB);
    return out;
}
