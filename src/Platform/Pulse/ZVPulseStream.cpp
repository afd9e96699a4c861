#include "Platform/Pulse/ZVPulseStream.h"

#include <cstring>
#include <vector>

namespace {
constexpr pa_sample_spec kSpec{PA_SAMPLE_S16LE, 44100, 2};
}  // namespace

ZVPulseStream::ZVPulseStream(uint32_t device, ZVAudioIOProc proc, void* clientData)
    : _device(device), _proc(proc), _clientData(clientData) {}

std::unique_ptr<ZVPulseStream> ZVPulseStream::open(uint32_t sinkIndex, bool input,
                                                   ZVAudioIOProc proc, void* clientData,
                                                   std::string* error) {
    auto fail = [error](const std::string& why) {
        if (error) *error = why;
        return nullptr;
    };
    std::unique_ptr<ZVPulseStream> self(new ZVPulseStream(sinkIndex + 1, proc, clientData));
    ZVPulseConnection& c = self->_connection;
    if (!c.open(error)) return nullptr;

    const auto sink = c.sinkByIndex(sinkIndex);
    if (!sink) return fail("no output device " + std::to_string(sinkIndex + 1));

    c.lock();
    ZVPulseStream* raw = self.get();
    raw->_stream =
        c.newStream(input ? "Zorvan play-through in" : "Zorvan play-through out", &kSpec);
    bool ok = raw->_stream != nullptr;
    if (ok) {
        pa_buffer_attr attr;
        attr.maxlength = uint32_t(-1);
        attr.fragsize = kFragmentBytes;
        attr.tlength = 3 * kFragmentBytes;
        attr.prebuf = uint32_t(-1);
        attr.minreq = kFragmentBytes;
        auto flags = pa_stream_flags_t(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY |
                                       PA_STREAM_DONT_MOVE);
        if (input) {
            pa_stream_set_read_callback(raw->_stream, &ZVPulseStream::onRead, raw);
            ok = pa_stream_connect_record(raw->_stream, sink->monitor.c_str(), &attr, flags) >= 0;
        } else {
            pa_stream_set_write_callback(raw->_stream, &ZVPulseStream::onWrite, raw);
            ok = pa_stream_connect_playback(raw->_stream, sink->name.c_str(), &attr, flags, nullptr,
                                            nullptr) >= 0;
        }
    }
    ok = ok && c.waitForStream(raw->_stream);
    std::string why = c.lastError();
    c.unlock();
    if (!ok) return fail("cannot open a stream on '" + sink->name + "': " + why);
    return self;
}

ZVPulseStream::~ZVPulseStream() {
    _running.store(false);
    _connection.lock();
    ZVPulseConnection::endStream(_stream);
    _connection.unlock();
}

bool ZVPulseStream::start() {
    _running.store(true);
    _connection.lock();
    pa_operation* op = _stream ? pa_stream_cork(_stream, 0, nullptr, nullptr) : nullptr;
    if (op) pa_operation_unref(op);
    _connection.unlock();
    return op != nullptr;
}

void ZVPulseStream::stop() {
    // The stream itself ends with the object. Inside a callback the main loop's lock is
    // already held; elsewhere taking it waits out a callback in progress.
    _running.store(false);
    if (!_connection.inLoopThread()) {
        _connection.lock();
        _connection.unlock();
    }
}

// Both sides hand the procedure buffers of one size, kFragmentBytes, as a device's IO
// cycle does: the play-through copies block for block and relies on that.
void ZVPulseStream::onRead(pa_stream* s, size_t, void* u) {
    auto* self = static_cast<ZVPulseStream*>(u);
    const void* data = nullptr;
    size_t bytes = 0;
    while (pa_stream_readable_size(s) > 0 && pa_stream_peek(s, &data, &bytes) == 0 && bytes > 0) {
        // A hole (data == nullptr) is sound the server never had; nothing to hand on.
        if (data && self->_running.load()) {
            auto* p = static_cast<const uint8_t*>(data);
            self->_pending.insert(self->_pending.end(), p, p + bytes);
        }
        pa_stream_drop(s);
    }
    size_t at = 0;
    for (; at + kFragmentBytes <= self->_pending.size() && self->_running.load();
         at += kFragmentBytes) {
        ZVAudioIOBuffer in{self->_pending.data() + at, kFragmentBytes};
        double now = double(pa_rtclock_now()) / PA_USEC_PER_SEC;
        self->_proc(self->_device, now, &in, now, nullptr, now, self->_clientData);
    }
    if (!self->_running.load()) at = self->_pending.size();
    self->_pending.erase(self->_pending.begin(), self->_pending.begin() + long(at));
}

void ZVPulseStream::onWrite(pa_stream* s, size_t bytes, void* u) {
    auto* self = static_cast<ZVPulseStream*>(u);
    while (bytes > 0) {
        void* data = nullptr;
        size_t size = kFragmentBytes;
        if (pa_stream_begin_write(s, &data, &size) < 0 || !data || size < kFragmentBytes) {
            if (data) pa_stream_cancel_write(s);
            return;
        }
        size = kFragmentBytes;
        // The buffer is handed over as silence; the procedure fills what it has.
        std::memset(data, 0, size);
        if (self->_running.load()) {
            ZVAudioIOBuffer out{data, size};
            double now = double(pa_rtclock_now()) / PA_USEC_PER_SEC;
            self->_proc(self->_device, now, nullptr, now, &out, now, self->_clientData);
        }
        if (pa_stream_write(s, data, size, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
        bytes -= std::min(bytes, size);
    }
}
