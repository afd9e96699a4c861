#include "ZVTonePlayer.h"

#include <pipewire/pipewire.h>
#include <pulse/simple.h>
#include <spa/param/audio/format-utils.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "Platform/PipeWire/ZVPipeWireConnection.h"
#include "ZorvanInternal.h"

ZVTonePlayer::ZVTonePlayer(const std::string& sink, int targetMicroseconds)
    : _thread([this, sink, targetMicroseconds] {
          // A short target is a test timing the onset: on PipeWire that needs its clock.
          const char* server = std::getenv("ZV_SOUND_SERVER");
          if (server && std::strcmp(server, "pipewire") == 0 && targetMicroseconds <= 10000)
              playThroughPipeWire(sink);
          else
              play(sink, targetMicroseconds);
      }) {}

bool ZVTonePlayer::brokeNear(double t, double within) const {
    std::lock_guard<std::mutex> g(_breaksLock);
    for (double at : _breaks)
        if (std::abs(at - t) <= within) return true;
    return false;
}

double ZVTonePlayer::sample(double t) const {
    const double start = _toneStart.load(), end = _toneEnd.load();
    if (t < start || t >= end) return 0;
    return kAmplitude * std::sin(2 * M_PI * kFrequency * (t - start));
}

ZVTonePlayer::~ZVTonePlayer() {
    {
        std::lock_guard<std::mutex> g(_stopLock);
        _stop = true;
    }
    _stopped.notify_all();
    _thread.join();
}

void ZVTonePlayer::play(std::string sink, int targetMicroseconds) {
    constexpr uint32_t kRate = 44100;
    pa_sample_spec spec{PA_SAMPLE_S16LE, kRate, 1};
    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = uint32_t(pa_usec_to_bytes(pa_usec_t(targetMicroseconds), &spec));
    attr.prebuf = uint32_t(-1);
    attr.minreq = uint32_t(-1);
    attr.fragsize = uint32_t(-1);
    int error = 0;
    pa_simple* s = pa_simple_new(nullptr, "zorvan test tone", PA_STREAM_PLAYBACK, sink.c_str(),
                                 "tone", &spec, nullptr, &attr, &error);
    if (!s) {
        _ok = false;
        return;
    }
    std::vector<int16_t> block(kRate / 200);  // 5 ms
    while (!_stop) {
        const pa_usec_t latency = pa_simple_get_latency(s, &error);
        const double heardAt = ZVAbsoluteTimeGetCurrent() + double(latency) / 1e6;
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = int16_t(std::lround(sample(heardAt + double(i) / kRate) * 32767));
        if (pa_simple_write(s, block.data(), block.size() * sizeof(int16_t), &error) < 0) {
            _ok = false;
            break;
        }
    }
    pa_simple_free(s);
}

// PipeWire's PulseAudio-compatible server reports a playback stream's latency without the
// graph's own cycle, so there the tone is timed by PipeWire's native stream clock: each
// cycle says when the next sample written will be played.
void ZVTonePlayer::playThroughPipeWire(std::string sink) {
    struct Player {
        ZVTonePlayer* owner;
        pw_stream* stream = nullptr;
        double nextHeard = 0;  // when the sample after the last one written is heard
        spa_hook hook{};
        pw_stream_events events{};
    } p{this};
    std::string error;
    auto connection = ZVPipeWireConnection::connect(-1, &error);
    if (!connection) {
        _ok = false;
        return;
    }
    constexpr uint32_t kRate = 48000;  // the graph's rate: no resampler in the path
    {
        ZVPipeWireConnection::Lock lock(*connection);
        p.stream =
            pw_stream_new(connection->core(), "zorvan test tone",
                          pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY,
                                            "Playback", PW_KEY_TARGET_OBJECT, sink.c_str(),
                                            PW_KEY_NODE_LATENCY, "256/48000", nullptr));
        p.events.version = PW_VERSION_STREAM_EVENTS;
        p.events.process = [](void* data) {
            auto* self = static_cast<Player*>(data);
            pw_time time{};
            pw_stream_get_time_n(self->stream, &time, sizeof time);
            pw_buffer* b = pw_stream_dequeue_buffer(self->stream);
            if (!b) return;
            spa_data& d = b->buffer->datas[0];
            if (!d.data) return (void)pw_stream_queue_buffer(self->stream, b);
            uint32_t frames = d.maxsize / sizeof(int16_t);
            if (b->requested) frames = std::min<uint32_t>(frames, uint32_t(b->requested));
            // The next sample is played `delay` graph ticks after the cycle began, behind
            // what is still queued or buffered.
            timespec mono{};
            clock_gettime(CLOCK_MONOTONIC, &mono);
            const double monoNow = double(mono.tv_sec) + double(mono.tv_nsec) / 1e9;
            const double toAbsolute = ZVAbsoluteTimeGetCurrent() - monoNow;
            const double delay =
                time.rate.denom ? double(time.delay) * time.rate.num / time.rate.denom : 0;
            const double heardAt = toAbsolute + double(time.now) / 1e9 + delay +
                                   double(time.queued + time.buffered) / kRate;
            if (self->nextHeard > 0 && std::abs(heardAt - self->nextHeard) > 0.003) {
                std::lock_guard<std::mutex> g(self->owner->_breaksLock);
                self->owner->_breaks.push_back(heardAt);
            }
            self->nextHeard = heardAt + double(frames) / kRate;
            auto* out = static_cast<int16_t*>(d.data);
            for (uint32_t i = 0; i < frames; ++i)
                out[i] =
                    int16_t(std::lround(self->owner->sample(heardAt + double(i) / kRate) * 32767));
            d.chunk->offset = 0;
            d.chunk->stride = sizeof(int16_t);
            d.chunk->size = frames * sizeof(int16_t);
            pw_stream_queue_buffer(self->stream, b);
        };
        pw_stream_add_listener(p.stream, &p.hook, &p.events, &p);
        uint8_t space[512];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(space, sizeof space);
        spa_audio_info_raw info{};
        info.format = SPA_AUDIO_FORMAT_S16;
        info.rate = kRate;
        info.channels = 1;
        const spa_pod* params[] = {
            spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
        if (pw_stream_connect(p.stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                              static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT |
                                                           PW_STREAM_FLAG_MAP_BUFFERS |
                                                           PW_STREAM_FLAG_RT_PROCESS),
                              params, 1) < 0)
            _ok = false;
    }
    {
        std::unique_lock<std::mutex> g(_stopLock);
        _stopped.wait(g, [this] { return _stop.load(); });
    }
    ZVPipeWireConnection::Lock lock(*connection);
    spa_hook_remove(&p.hook);
    pw_stream_destroy(p.stream);
}
