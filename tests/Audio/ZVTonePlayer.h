#pragma once
// Plays into a PulseAudio sink through a low-latency stream of its own: silence, and a
// 1 kHz sine of half amplitude between two absolute times. Each block is computed for the
// moment it will be heard (now + the stream's latency), so a tone starts within a few
// milliseconds of the time asked for. The stream also keeps the sink awake, which an idle
// null sink is not (it renders seconds ahead and drops leading silence).
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ZVTonePlayer {
  public:
    // Starts playing silence into `sink` at once. The stream's latency reported by the
    // server leaves out about its own target length, so a test that times the tone's
    // onset asks for a short target (a few ms); one that measures pitch over seconds
    // keeps the longer default, which a loaded machine does not underrun. On PipeWire's
    // server a short target times the tone by PipeWire's own stream clock. Main thread.
    explicit ZVTonePlayer(const std::string& sink, int targetMicroseconds = 20000);
    ~ZVTonePlayer();

    // The tone sounds from `start` to `end` (absolute times). Any thread.
    void setTone(double start, double end) {
        _toneStart.store(start);
        _toneEnd.store(end);
    }
    bool ok() const { return _ok.load(); }
    // Whether the player's own stream broke off within `within` seconds of `t` (absolute):
    // a cycle it fed late was played as silence and shifted what followed, so a tone that
    // starts there starts late through no fault of a recorder. Only the PipeWire clock
    // path sees breaks. Any thread.
    bool brokeNear(double t, double within) const;

    static constexpr double kFrequency = 1000;
    static constexpr double kAmplitude = 0.5;

  private:
    void play(std::string sink, int targetMicroseconds);
    void playThroughPipeWire(std::string sink);
    // The tone's value (-1..1) heard at absolute time `t`. Any thread.
    double sample(double t) const;
    std::atomic<double> _toneStart{1e300};
    std::atomic<double> _toneEnd{1e300};
    std::atomic<bool> _stop{false};
    std::mutex _stopLock;  // with _stopped: wakes a player waiting for the end
    std::condition_variable _stopped;
    std::atomic<bool> _ok{true};
    mutable std::mutex _breaksLock;  // guards _breaks: the player's thread adds, tests read
    std::vector<double> _breaks;     // heard times where the stream broke off
    std::thread _thread;
};
