#pragma once
// One running connection between an audio device and an IO procedure: the play-through's
// two sides. The platform calls the procedure on its own IO thread with the device's
// buffer; an input stream hands over what the device captured, an output stream hands
// over a buffer of silence for the procedure to fill.
#include <cstddef>
#include <cstdint>

struct ZVAudioIOBuffer {
    void* data = nullptr;
    size_t byteSize = 0;
};

// The IO procedure: device, current time, input buffer, input time, output buffer,
// output time, and the client data given at open. Exactly one of the buffers is set.
// Worker thread (the stream's IO thread) only; must not wait.
using ZVAudioIOProc = int32_t (*)(uint32_t device, double now, const ZVAudioIOBuffer* input,
                                  double inputTime, ZVAudioIOBuffer* output, double outputTime,
                                  void* clientData);

class ZVAudioStream {
  public:
    // Ends the stream; when it returns the procedure is not running and will not run
    // again. Never from inside the procedure.
    virtual ~ZVAudioStream() = default;

    // Callbacks begin. false when the device did not accept the stream. Any thread but
    // the IO thread.
    virtual bool start() = 0;
    // Callbacks end after the current one; outside the procedure, stop returns once that
    // one ended. Any thread, also from inside the procedure.
    virtual void stop() = 0;
};
