#include "support/ZVPipeWireProducer.h"

#include <gtest/gtest.h>
#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "Platform/PipeWire/ZVPipeWireConnection.h"
#include "Platform/PipeWire/ZVPipeWireStream.h"

namespace zvtest {

namespace {
constexpr int32_t kCursorRoom = 64;  // the largest bitmap sent
constexpr size_t kCursorMetaSize =
    sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) + kCursorRoom * kCursorRoom * 4;
constexpr size_t kDamageMetaSize = 8 * sizeof(spa_meta_region);
}  // namespace

struct ZVPipeWireProducer::Impl {
    std::shared_ptr<ZVPipeWireConnection> connection;
    pw_stream* stream = nullptr;
    spa_hook hook{};
    pw_stream_events events{};
    std::mutex m;  // guards the fields below (the loop thread writes them)
    std::condition_variable changed;
    int32_t offeredW = 0, offeredH = 0, width = 0, height = 0;
    std::vector<uint64_t> modifiers;  // offered; empty: shared memory only
    bool sharedToo = true;
    uint32_t bufferType = 0;
    pw_stream_state state = PW_STREAM_STATE_UNCONNECTED;
    Pattern pattern;
    std::optional<Cursor> cursor;
    ZVDamage damage;
    uint64_t sent = 0;  // numbers the buffers, as compositors do

    // With `choices`, the DMA-BUF format: those modifiers left for the producer to fix, or
    // the one it fixed.
    const spa_pod* format(spa_pod_builder& b, const std::vector<uint64_t>& choices = {},
                          bool fixed = false) const {
        const spa_rectangle size = SPA_RECTANGLE(uint32_t(offeredW), uint32_t(offeredH));
        const spa_fraction variable = SPA_FRACTION(0, 1), rate = SPA_FRACTION(60, 1),
                           slowest = SPA_FRACTION(1, 1);
        spa_pod_frame object;
        spa_pod_builder_push_object(&b, &object, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
        spa_pod_builder_add(
            &b, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
            SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
            SPA_POD_Id(SPA_VIDEO_FORMAT_BGRx), SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size),
            SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&variable), SPA_FORMAT_VIDEO_maxFramerate,
            SPA_POD_CHOICE_RANGE_Fraction(&rate, &slowest, &rate), 0);
        ZVPipeWireStream::addModifiers(b, choices, !fixed);
        return static_cast<const spa_pod*>(spa_pod_builder_pop(&b, &object));
    }
    // What the source offers: DMA-BUFs first, then shared memory.
    uint32_t offers(spa_pod_builder& b, const spa_pod** params) const {
        uint32_t n = 0;
        if (!modifiers.empty()) params[n++] = format(b, modifiers);
        if (sharedToo) params[n++] = format(b);
        return n;
    }

    void onParamChanged(uint32_t id, const spa_pod* param) {
        if (id != SPA_PARAM_Format || !param) return;
        const spa_pod_prop* modifier = spa_pod_find_prop(param, nullptr, SPA_FORMAT_VIDEO_modifier);
        if (modifier && (modifier->flags & SPA_POD_PROP_FLAG_DONT_FIXATE)) {
            // A GPU compositor asks its allocator; this one takes the first the consumer
            // also reads, and offers the format again with it alone.
            const auto* values =
                static_cast<const uint64_t*>(SPA_POD_CHOICE_VALUES(&modifier->value));
            if (SPA_POD_CHOICE_N_VALUES(&modifier->value) < 1) return;
            uint8_t space[2048];
            spa_pod_builder b = SPA_POD_BUILDER_INIT(space, sizeof space);
            const spa_pod* params[3];
            params[0] = format(b, {values[0]}, true);
            const uint32_t n = 1 + offers(b, params + 1);
            pw_stream_update_params(stream, params, n);
            return;
        }
        spa_video_info_raw info{};
        if (spa_format_video_raw_parse(param, &info) < 0) return;
        {
            std::lock_guard<std::mutex> g(m);
            width = int32_t(info.size.width);
            height = int32_t(info.size.height);
        }
        changed.notify_all();
        const int32_t stride = int32_t(info.size.width) * 4;
        uint8_t space[1024];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(space, sizeof space);
        const spa_pod* params[4];
        params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
            SPA_POD_CHOICE_RANGE_Int(8, 2, 16), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1),
            SPA_PARAM_BUFFERS_size, SPA_POD_Int(stride * int32_t(info.size.height)),
            SPA_PARAM_BUFFERS_stride, SPA_POD_Int(stride), SPA_PARAM_BUFFERS_dataType,
            SPA_POD_CHOICE_FLAGS_Int(1 << (modifier ? SPA_DATA_DmaBuf : SPA_DATA_MemFd))));
        params[1] = static_cast<const spa_pod*>(
            spa_pod_builder_add_object(&b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta,
                                       SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
                                       SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))));
        params[2] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
            SPA_POD_Id(SPA_META_Cursor), SPA_PARAM_META_size, SPA_POD_Int(kCursorMetaSize)));
        params[3] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
            SPA_POD_Id(SPA_META_VideoDamage), SPA_PARAM_META_size, SPA_POD_Int(kDamageMetaSize)));
        pw_stream_update_params(stream, params, 4);
    }

    // Only with DMA-BUFs offered: the source then makes its buffers itself, each a memfd
    // sent as the memory negotiated.
    void onAddBuffer(pw_buffer* buffer) {
        spa_data& d = buffer->buffer->datas[0];
        const bool dmaBuf = d.type & (1u << SPA_DATA_DmaBuf);
        const uint32_t size = uint32_t(width) * 4 * uint32_t(height);
        const int fd = memfd_create("zorvan-test-frame", MFD_CLOEXEC);
        void* p = fd >= 0 && ftruncate(fd, size) == 0
                      ? mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)
                      : MAP_FAILED;
        if (p == MAP_FAILED) {
            if (fd >= 0) close(fd);
            return;
        }
        d.type = dmaBuf ? SPA_DATA_DmaBuf : SPA_DATA_MemFd;
        d.flags = SPA_DATA_FLAG_READWRITE;
        d.fd = fd;
        d.mapoffset = 0;
        d.maxsize = size;
        d.data = p;
        std::lock_guard<std::mutex> g(m);
        bufferType = d.type;
    }
    void onRemoveBuffer(pw_buffer* buffer) {
        spa_data& d = buffer->buffer->datas[0];
        if (!d.data) return;
        munmap(d.data, d.maxsize);
        close(int(d.fd));
        d.data = nullptr;
    }

    void onProcess() {
        pw_buffer* b = pw_stream_dequeue_buffer(stream);
        if (!b) return;
        std::lock_guard<std::mutex> g(m);
        spa_buffer* sb = b->buffer;
        spa_data& d = sb->datas[0];
        const uint32_t stride = uint32_t(width) * 4;
        if (d.data && pattern && size_t{stride} * size_t(height) <= d.maxsize) {
            for (int32_t y = 0; y < height; ++y) {
                auto* row = static_cast<uint8_t*>(d.data) + size_t(y) * stride;
                for (int32_t x = 0; x < width; ++x) {
                    const uint32_t v = pattern(x, y);
                    std::memcpy(row + 4 * x, &v, 4);
                }
            }
            d.chunk->offset = 0;
            d.chunk->size = stride * uint32_t(height);
            d.chunk->stride = int32_t(stride);
        }
        if (auto* mc = static_cast<spa_meta_cursor*>(
                spa_buffer_find_meta_data(sb, SPA_META_Cursor, kCursorMetaSize))) {
            mc->id = cursor ? 1 : 0;
            mc->bitmap_offset = 0;
            if (cursor) {
                mc->position = SPA_POINT(cursor->x, cursor->y);
                mc->hotspot = SPA_POINT(cursor->hotX, cursor->hotY);
                if (!cursor->rgba.empty()) {
                    mc->bitmap_offset = sizeof(spa_meta_cursor);
                    auto* bm = SPA_PTROFF(mc, mc->bitmap_offset, spa_meta_bitmap);
                    bm->format = SPA_VIDEO_FORMAT_RGBA;
                    bm->size = SPA_RECTANGLE(uint32_t(cursor->width), uint32_t(cursor->height));
                    bm->stride = cursor->width * 4;
                    bm->offset = sizeof(spa_meta_bitmap);
                    std::memcpy(SPA_PTROFF(bm, bm->offset, void), cursor->rgba.data(),
                                cursor->rgba.size());
                }
            }
        }
        if (auto* h = static_cast<spa_meta_header*>(
                spa_buffer_find_meta_data(sb, SPA_META_Header, sizeof(spa_meta_header))))
            h->seq = sent++;
        if (spa_meta* md = spa_buffer_find_meta(sb, SPA_META_VideoDamage)) {
            auto* regions = static_cast<spa_meta_region*>(md->data);
            for (size_t n = 0; n < md->size / sizeof(spa_meta_region); ++n) {
                const ZVDamageRect r = n < damage.size() ? damage[n] : ZVDamageRect{};
                regions[n].region = SPA_REGION(r.x, r.y, uint32_t(r.width), uint32_t(r.height));
            }
        }
        pw_stream_queue_buffer(stream, b);
    }
};

ZVPipeWireProducer::ZVPipeWireProducer(int32_t width, int32_t height,
                                       std::vector<uint64_t> dmaBufModifiers, bool sharedToo)
    : _impl(std::make_unique<Impl>()) {
    Impl& i = *_impl;
    std::string error;
    i.connection = ZVPipeWireConnection::connect(-1, &error);
    if (!i.connection) {
        ADD_FAILURE_AT(__FILE__, __LINE__);
        return;
    }
    i.offeredW = width;
    i.offeredH = height;
    i.modifiers = std::move(dmaBufModifiers);
    i.sharedToo = sharedToo;
    i.bufferType = i.modifiers.empty() ? SPA_DATA_MemFd : 0;
    ZVPipeWireConnection::Lock lock(*i.connection);
    i.stream = pw_stream_new(i.connection->core(), "zorvan-test-source",
                             pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source", nullptr));
    i.events.version = PW_VERSION_STREAM_EVENTS;
    i.events.state_changed = [](void* data, pw_stream_state, pw_stream_state state, const char*) {
        auto* self = static_cast<Impl*>(data);
        std::lock_guard<std::mutex> g(self->m);
        self->state = state;
        self->changed.notify_all();
    };
    i.events.param_changed = [](void* data, uint32_t id, const spa_pod* param) {
        static_cast<Impl*>(data)->onParamChanged(id, param);
    };
    i.events.process = [](void* data) { static_cast<Impl*>(data)->onProcess(); };
    if (!i.modifiers.empty()) {
        i.events.add_buffer = [](void* data, pw_buffer* b) {
            static_cast<Impl*>(data)->onAddBuffer(b);
        };
        i.events.remove_buffer = [](void* data, pw_buffer* b) {
            static_cast<Impl*>(data)->onRemoveBuffer(b);
        };
    }
    pw_stream_add_listener(i.stream, &i.hook, &i.events, &i);
    uint8_t space[2048];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(space, sizeof space);
    const spa_pod* params[2];
    const uint32_t n = i.offers(b, params);
    const int alloc = i.modifiers.empty() ? 0 : PW_STREAM_FLAG_ALLOC_BUFFERS;
    pw_stream_connect(
        i.stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
        static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS | alloc),
        params, n);
}

ZVPipeWireProducer::~ZVPipeWireProducer() {
    if (!_impl->stream) return;
    ZVPipeWireConnection::Lock lock(*_impl->connection);
    spa_hook_remove(&_impl->hook);
    pw_stream_destroy(_impl->stream);
}

uint32_t ZVPipeWireProducer::nodeId() const {
    {
        std::unique_lock<std::mutex> g(_impl->m);
        _impl->changed.wait_for(g, std::chrono::seconds(10), [&] {
            return _impl->state != PW_STREAM_STATE_UNCONNECTED &&
                   _impl->state != PW_STREAM_STATE_CONNECTING;
        });
    }
    ZVPipeWireConnection::Lock lock(*_impl->connection);
    return pw_stream_get_node_id(_impl->stream);
}

bool ZVPipeWireProducer::waitUntilStreaming(double seconds) {
    std::unique_lock<std::mutex> g(_impl->m);
    return _impl->changed.wait_for(g, std::chrono::duration<double>(seconds), [&] {
        return _impl->state == PW_STREAM_STATE_STREAMING && _impl->width == _impl->offeredW &&
               _impl->height == _impl->offeredH;
    });
}

void ZVPipeWireProducer::send(Pattern pattern, std::optional<Cursor> cursor, ZVDamage damage) {
    {
        std::lock_guard<std::mutex> g(_impl->m);
        _impl->pattern = std::move(pattern);
        _impl->cursor = std::move(cursor);
        _impl->damage = std::move(damage);
    }
    ZVPipeWireConnection::Lock lock(*_impl->connection);
    pw_stream_trigger_process(_impl->stream);
}

void ZVPipeWireProducer::skipNumber() {
    std::lock_guard<std::mutex> g(_impl->m);
    ++_impl->sent;
}

uint32_t ZVPipeWireProducer::bufferType() const {
    std::lock_guard<std::mutex> g(_impl->m);
    return _impl->bufferType;
}

void ZVPipeWireProducer::resize(int32_t width, int32_t height) {
    ZVPipeWireConnection::Lock lock(*_impl->connection);
    {
        std::lock_guard<std::mutex> g(_impl->m);
        _impl->offeredW = width;
        _impl->offeredH = height;
    }
    uint8_t space[2048];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(space, sizeof space);
    const spa_pod* params[2];
    pw_stream_update_params(_impl->stream, params, _impl->offers(b, params));
}

}  // namespace zvtest
