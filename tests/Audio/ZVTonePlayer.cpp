#include "ZVTonePlayer.h"

#include <pulse/simple.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "ZorvanInternal.h"

ZVTonePlayer::ZVTonePlayer(const std::string& sink, int targetMicroseconds)
    : _thread([this, sink, targetMicroseconds] { play(sink, targetMicroseconds); }) {}

ZVTonePlayer::~ZVTonePlayer() {
    _stop = true;
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
        const double start = _toneStart.load(), end = _toneEnd.load();
        for (size_t i = 0; i < block.size(); ++i) {
            const double t = heardAt + double(i) / kRate;
            double v = 0;
            if (t >= start && t < end)
                v = kAmplitude * std::sin(2 * M_PI * kFrequency * (t - start));
            block[i] = int16_t(std::lround(v * 32767));
        }
        if (pa_simple_write(s, block.data(), block.size() * sizeof(int16_t), &error) < 0) {
            _ok = false;
            break;
        }
    }
    pa_simple_free(s);
}
