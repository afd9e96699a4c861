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

// Whether the server is PipeWire's, whose timing reports come from its graph's clock.
bool reportsFromGraphClock(ZVPulseConnection& c) {
    struct Answer {
        ZVPulseConnection* connection;
        bool graph = false;
    } answer{&c};
    c.run([&](pa_context* context) {
        return pa_context_get_server_info(
            context,
            [](pa_context*, const pa_server_info* info, void* u) {
                auto* a = static_cast<Answer*>(u);
                a->graph = info && info->server_name && std::strstr(info->server_name, "PipeWire");
                a->connection->signal();
            },
            &answer);
    });
    return answer.graph;
}

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
    if (reportsFromGraphClock(c)) self->_reports = ZVTimingReportFilter(kGraphLossSeconds);

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
    // What came before the pause is the reader's now: no report after it will time it.
    _connection.lock();
    releaseAll();
    _connection.unlock();
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

std::optional<double> ZVPulseCapture::newReport(pa_stream* s) {
    const pa_timing_info* ti = pa_stream_get_timing_info(s);
    // Before the source wrote anything a report places nothing (and one asked for while
    // the stream was corked comes with the time it was asked).
    if (!ti || ti->write_index_corrupt || ti->write_index <= 0) return std::nullopt;
    if (ti->timestamp.tv_sec == _reportTime.tv_sec &&
        ti->timestamp.tv_usec == _reportTime.tv_usec && ti->write_index == _reportWriteIndex)
        return std::nullopt;
    _reportTime = ti->timestamp;
    _reportWriteIndex = ti->write_index;
    // At the report's time the source held source_usec of sound not yet in the stream, and
    // a monitor's sink had sink_usec rendered and not yet played.
    const double atWrite =
        absoluteTimeOf(ti->timestamp) + double(ti->sink_usec) / 1e6 - double(ti->source_usec) / 1e6;
    return atWrite - double(ti->write_index) / (_rate * _frameBytes);
}

double ZVPulseCapture::timeWithoutReport(pa_stream* s) {
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

void ZVPulseCapture::release(std::optional<double> origin, double stepSeconds, int64_t lastReport) {
    const int64_t step = std::llround(stepSeconds * _rate);
    if (step > 0) {
        // Silence where the frames were missing: before what came after the report that
        // stepped (or, where that went on untimed, before what comes next).
        (_held.empty() ? _lostHeld : _held.front().lostBefore) += step;
    } else if (step < 0) {
        // More frames than time: as many are left out, so what follows keeps its place. A
        // loss before an emptied fragment stays before what follows it.
        int64_t excess = -step;
        int64_t carried = 0;
        std::vector<Fragment> kept;
        for (Fragment& f : _held) {
            const auto n = std::min<int64_t>(excess, int64_t(f.bytes.size() / _frameBytes));
            f.bytes.erase(f.bytes.begin(), f.bytes.begin() + long(n * _frameBytes));
            f.index += n * _frameBytes;
            excess -= n;
            carried += f.lostBefore;
            if (f.bytes.empty()) continue;
            f.lostBefore = carried;
            carried = 0;
            kept.push_back(std::move(f));
        }
        _held = std::move(kept);
        _lostHeld += carried;
    }
    const auto timed = std::find_if(_held.begin(), _held.end(),
                                    [&](const Fragment& f) { return f.report > lastReport; });
    if (timed == _held.begin()) return;
    ZVLockGuard g(_lock);
    for (auto f = _held.begin(); f != timed; ++f) {
        if (origin) f->time = *origin + double(f->index) / (_rate * _frameBytes);
        _queuedFrames += int64_t(f->bytes.size() / _frameBytes);
        _queue.push_back(std::move(*f));
    }
    _held.erase(_held.begin(), timed);
    // A reader that fell this far behind lost the oldest.
    while (_queue.size() > 1 && _queuedFrames > int64_t(kQueueSeconds * _rate)) {
        Fragment& old = _queue.front();
        const auto left = int64_t((old.bytes.size() - old.at) / _frameBytes);
        _queuedFrames -= left;
        const int64_t lost = old.lostBefore + left;
        _queue.pop_front();
        _queue.front().lostBefore += lost;
    }
}

void ZVPulseCapture::onRead(pa_stream* s, size_t, void* u) {
    auto* self = static_cast<ZVPulseCapture*>(u);
    self->refreshTiming(s);
    const void* data = nullptr;
    size_t bytes = 0;
    while (pa_stream_readable_size(s) > 0 && pa_stream_peek(s, &data, &bytes) == 0 && bytes > 0) {
        bool resumed = false;
        {
            ZVLockGuard g(self->_lock);
            resumed = self->_resumed;
            self->_resumed = false;
        }
        // A paused stretch is no loss: the time line starts anew (what came before it goes
        // on as timed so far), and what the server skipped meanwhile is not counted.
        if (resumed) {
            self->releaseAll();
            self->_reports.restart();
        }
        const int64_t skipped = self->skippedBytes(s);
        if (skipped > 0) {
            self->_index += skipped;
            if (!resumed) self->_lostHeld += skipped / self->_frameBytes;
        }
        // A new report may settle an older one, and with it what came after that one.
        if (const std::optional<double> origin = self->newReport(s))
            if (const auto settled = self->_reports.add(*origin))
                self->release(settled->origin, settled->step, settled->report);
        const auto frames = int64_t(bytes / self->_frameBytes);
        if (!data) {
            // A hole: sound the server never had for us.
            self->_lostHeld += frames;
        } else {
            Fragment f;
            f.index = self->_index;
            f.report = std::max<int64_t>(0, self->_reports.reports() - 1);
            f.arrived = ZVAbsoluteTimeGetCurrent();
            // Used only while no report has come: release times it by the origin otherwise.
            if (!self->_reports.current()) f.time = timeWithoutReport(s);
            f.bytes.assign(static_cast<const uint8_t*>(data),
                           static_cast<const uint8_t*>(data) + frames * self->_frameBytes);
            f.lostBefore = self->_lostHeld;
            self->_lostHeld = 0;
            self->_held.push_back(std::move(f));
        }
        self->_index += int64_t(bytes);
        pa_stream_drop(s);
        // Reports that stop coming hold nothing back for long.
        if (!self->_held.empty() &&
            ZVAbsoluteTimeGetCurrent() - self->_held.front().arrived > kHoldSeconds)
            self->releaseAll();
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
