#include "Platform/Pulse/ZVPulseCapture.h"

#include <sys/time.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "Foundation/ZVTime.h"
#include "Platform/Pulse/ZVPulseDevices.h"

namespace {

// The OpenAL capture formats as libpulse sample specs: 8-bit sound is unsigned.
bool specFor(int32_t alFormat, uint32_t rate, pa_sample_spec* spec) {
    switch (alFormat) {
        case 0x1100:
            *spec = {PA_SAMPLE_U8, rate, 1};
            break;
        case 0x1101:
            *spec = {PA_SAMPLE_S16LE, rate, 1};
            break;
        case 0x1102:
            *spec = {PA_SAMPLE_U8, rate, 2};
            break;
        case 0x1103:
            *spec = {PA_SAMPLE_S16LE, rate, 2};
            break;
        default:
            return false;
    }
    return pa_sample_spec_valid(spec) != 0;
}

// A wall-clock time as the server stamps its timing reports, on the absolute clock.
double absoluteTimeOf(const timeval& tv) {
    timeval now{};
    gettimeofday(&now, nullptr);
    const double wallNow = double(now.tv_sec) + double(now.tv_usec) / 1e6;
    const double wall = double(tv.tv_sec) + double(tv.tv_usec) / 1e6;
    return ZVAbsoluteTimeGetCurrent() - (wallNow - wall);
}

class PulseCaptureProvider : public ZVCaptureProvider {
  public:
    std::unique_ptr<ZVCaptureDevice> open(const std::string& name, uint32_t rate, int32_t alFormat,
                                          int32_t, int32_t* error) const override {
        return ZVPulseCapture::open(name, rate, alFormat, error);
    }
};
const PulseCaptureProvider gPulseCapture;

}  // namespace

const ZVCaptureProvider* ZVPulseCapture::provider() {
    return &gPulseCapture;
}

bool ZVPulseCapture::serverAnswers() {
    ZVPulseConnection c("Zorvan probe");
    return c.open(nullptr);
}

ZVPulseCapture::ZVPulseCapture(uint32_t rate, uint32_t frameBytes)
    : _rate(rate), _frameBytes(frameBytes) {}

std::unique_ptr<ZVPulseCapture> ZVPulseCapture::open(const std::string& name, uint32_t rate,
                                                     int32_t alFormat, int32_t* error) {
    auto fail = [error](int code) {
        if (error) *error = code;
        return nullptr;
    };
    pa_sample_spec spec;
    if (!specFor(alFormat, rate, &spec)) return fail(PA_ERR_INVALID);
    std::optional<std::string> source;
    if (!name.empty()) {
        source = ZVPulseDevices::sourceNamed(name, nullptr);
        if (!source) return fail(PA_ERR_NOENTITY);
    }
    std::unique_ptr<ZVPulseCapture> self(new ZVPulseCapture(rate, uint32_t(pa_frame_size(&spec))));
    ZVPulseConnection& c = self->_connection;
    if (!c.open(nullptr)) return fail(PA_ERR_CONNECTIONREFUSED);

    c.lock();
    ZVPulseCapture* raw = self.get();
    raw->_stream = c.newStream("Zorvan recording", &spec);
    bool ok = raw->_stream != nullptr;
    if (ok) {
        pa_stream_set_read_callback(raw->_stream, &ZVPulseCapture::onRead, raw);
        pa_buffer_attr attr;
        attr.maxlength = uint32_t(pa_usec_to_bytes(pa_usec_t(kServerBufferSeconds * 1e6), &spec));
        attr.fragsize = uint32_t(pa_usec_to_bytes(25000, &spec));
        attr.tlength = attr.prebuf = attr.minreq = uint32_t(-1);
        // Not moved to another source when this one goes: that ends the recording.
        const auto flags = pa_stream_flags_t(PA_STREAM_START_CORKED | PA_STREAM_AUTO_TIMING_UPDATE |
                                             PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
        ok = pa_stream_connect_record(raw->_stream, source ? source->c_str() : nullptr, &attr,
                                      flags) >= 0;
    }
    ok = ok && c.waitForStream(raw->_stream);
    const int code = pa_context_errno(c.context());
    c.unlock();
    if (!ok) return fail(code ? code : PA_ERR_TIMEOUT);
    return self;
}

ZVPulseCapture::~ZVPulseCapture() {
    _connection.lock();
    ZVPulseConnection::endStream(_stream);
    _connection.unlock();
}

void ZVPulseCapture::cork(bool corked) {
    _connection.lock();
    if (pa_operation* op = _stream ? pa_stream_cork(_stream, corked, nullptr, nullptr) : nullptr)
        pa_operation_unref(op);
    _connection.unlock();
}

bool ZVPulseCapture::start() {
    {
        ZVLockGuard g(_lock);
        _resumed = true;
    }
    cork(false);
    return isConnected();
}

void ZVPulseCapture::stop() {
    cork(true);
}

bool ZVPulseCapture::notifyWhenReady(std::function<void()> ready) {
    _connection.lock();
    _ready = std::move(ready);
    // A stream fails when it or its server goes away: the reader learns it at once.
    if (_stream)
        pa_stream_set_state_callback(
            _stream,
            [](pa_stream*, void* u) {
                auto* self = static_cast<ZVPulseCapture*>(u);
                self->_connection.signal();
                if (self->_ready) self->_ready();
            },
            this);
    const bool ok = _stream != nullptr;
    _connection.unlock();
    return ok;
}

bool ZVPulseCapture::isConnected() {
    _connection.lock();
    const bool ok = _stream && pa_stream_get_state(_stream) == PA_STREAM_READY &&
                    pa_context_get_state(_connection.context()) == PA_CONTEXT_READY;
    _connection.unlock();
    return ok;
}

void ZVPulseCapture::refreshTiming(pa_stream* s) {
    const double now = ZVAbsoluteTimeGetCurrent();
    if (_timingAsked || now - _timingAskedAt < kTimingSeconds) return;
    pa_operation* op = pa_stream_update_timing_info(
        s, [](pa_stream*, int, void* u) { static_cast<ZVPulseCapture*>(u)->_timingAsked = false; },
        this);
    if (!op) return;
    pa_operation_unref(op);
    _timingAsked = true;
    _timingAskedAt = now;
}

double ZVPulseCapture::captureTime(pa_stream* s, int64_t index) {
    const pa_timing_info* ti = pa_stream_get_timing_info(s);
    const double byteRate = _rate * _frameBytes;
    if (ti && !ti->write_index_corrupt) {
        // At the report's time the source held source_usec of sound not yet in the
        // stream, and a monitor's sink had sink_usec rendered and not yet played.
        const double atWrite = absoluteTimeOf(ti->timestamp) + double(ti->sink_usec) / 1e6 -
                               double(ti->source_usec) / 1e6;
        return atWrite + double(index - ti->write_index) / byteRate;
    }
    pa_usec_t latency = 0;
    int negative = 0;
    const double now = ZVAbsoluteTimeGetCurrent();
    if (pa_stream_get_latency(s, &latency, &negative) != 0) return now;
    return negative ? now + double(latency) / 1e6 : now - double(latency) / 1e6;
}

int64_t ZVPulseCapture::skippedBytes(pa_stream* s) const {
    const pa_timing_info* ti = pa_stream_get_timing_info(s);
    if (!ti || ti->read_index_corrupt) return 0;
    return std::max<int64_t>(0, ti->read_index - _index);
}

void ZVPulseCapture::onRead(pa_stream* s, size_t, void* u) {
    auto* self = static_cast<ZVPulseCapture*>(u);
    self->refreshTiming(s);
    const void* data = nullptr;
    size_t bytes = 0;
    while (pa_stream_readable_size(s) > 0 && pa_stream_peek(s, &data, &bytes) == 0 && bytes > 0) {
        const auto frames = int64_t(bytes / self->_frameBytes);
        const int64_t skipped = self->skippedBytes(s);
        if (skipped > 0) {
            self->_index += skipped;
            ZVLockGuard g(self->_lock);
            // What the server skipped while the stream was paused is no loss.
            if (!self->_resumed) self->_lostPending += skipped / self->_frameBytes;
            self->_nextTime = 0;  // the skip is counted: no second loss from the times
        }
        Fragment f;
        if (data) {
            f.time = self->captureTime(s, self->_index);
            f.bytes.assign(static_cast<const uint8_t*>(data),
                           static_cast<const uint8_t*>(data) + frames * self->_frameBytes);
        }
        self->_index += int64_t(bytes);
        pa_stream_drop(s);
        ZVLockGuard g(self->_lock);
        if (!data) {
            // A hole: sound the server never had for us.
            self->_lostPending += frames;
            self->_nextTime = 0;
            continue;
        }
        if (self->_resumed) {
            self->_nextTime = 0;  // a paused stretch is no loss
            self->_resumed = false;
        }
        const double late = self->_nextTime > 0 ? f.time - self->_nextTime : 0;
        if (late > kLossSeconds) self->_lostPending += std::llround(late * self->_rate);
        self->_nextTime = f.time + double(frames) / self->_rate;
        f.lostBefore = self->_lostPending;
        self->_lostPending = 0;
        self->_queuedFrames += frames;
        self->_queue.push_back(std::move(f));
        // A reader that fell this far behind lost the oldest.
        while (self->_queuedFrames > int64_t(kQueueSeconds * self->_rate)) {
            Fragment& old = self->_queue.front();
            const auto left = int64_t((old.bytes.size() - old.at) / self->_frameBytes);
            self->_queuedFrames -= left;
            self->_queue.pop_front();
            self->_queue.front().lostBefore += old.lostBefore + left;
        }
        self->_captured.store(true, std::memory_order_relaxed);
    }
    if (self->_ready) self->_ready();
}

int32_t ZVPulseCapture::framesReady() {
    ZVLockGuard g(_lock);
    return int32_t(std::min<int64_t>(_queuedFrames, INT32_MAX));
}

ZVCaptureRun ZVPulseCapture::peek() {
    ZVLockGuard g(_lock);
    if (_queue.empty()) return {};
    // The run goes on through the fragments that follow without a loss.
    const Fragment& head = _queue.front();
    int64_t frames = 0;
    for (const Fragment& f : _queue) {
        if (&f != &head && f.lostBefore > 0) break;
        frames += int64_t((f.bytes.size() - f.at) / _frameBytes);
    }
    return {int32_t(std::min<int64_t>(frames, INT32_MAX)),
            head.time + double(head.at / _frameBytes) / _rate, head.lostBefore};
}

void ZVPulseCapture::read(void* buffer, int32_t frames) {
    ZVLockGuard g(_lock);
    auto* out = static_cast<uint8_t*>(buffer);
    size_t want = size_t(frames) * _frameBytes;
    bool first = true;
    while (want > 0 && !_queue.empty()) {
        Fragment& f = _queue.front();
        if (!first && f.lostBefore > 0) break;  // never across a loss
        first = false;
        f.lostBefore = 0;
        const size_t n = std::min(want, f.bytes.size() - f.at);
        std::memcpy(out, f.bytes.data() + f.at, n);
        out += n, want -= n, f.at += n;
        _queuedFrames -= int64_t(n / _frameBytes);
        if (f.at == f.bytes.size()) _queue.pop_front();
    }
}
