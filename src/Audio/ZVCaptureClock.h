#pragma once
// When a capture device took each of its frames, learnt from when its frames arrive.
//
// A frame is never seen before it was captured, and the newest frame of a delivery is
// seen soon after: so the line through the earliest arrivals ("at time t, n frames were
// in") is the device's clock. Each window of a second keeps its earliest arrival; a
// least-squares line through those gives the device's real rate against our clock once
// enough time has passed, and the lowest of them (along that slope) places the line.
//
// Frames are counted on the device's time line: every frame delivered, plus the frames
// the caller knows were lost (and filled in), so that frame n was captured at
// captureTime(n). Not thread-safe: one owner (the recorder's worker).
#include <cstdint>
#include <vector>

class ZVCaptureClock {
  public:
    explicit ZVCaptureClock(double nominalRate);

    // At time `t` (seconds on the absolute clock), `frames` frames had arrived in all.
    void addArrival(double t, int64_t frames);
    bool hasArrivals() const { return _arrivals > 0; }

    // When frame `frame` was captured; meaningful once there are arrivals.
    double captureTime(int64_t frame) const;
    // How much later than expected `frames` frames were all in at time `t`.
    double lateness(double t, int64_t frames) const { return t - captureTime(frames); }
    // Frames per second of the absolute clock: measured once the arrivals span
    // kMinMeasureSeconds, the nominal rate before.
    double measuredRate() const;

    static constexpr double kWindowSeconds = 1.0;
    static constexpr double kMinMeasureSeconds = 10.0;

  private:
    struct Point {
        double x, y;  // seconds since the first arrival; earliness residual (see .cpp)
    };
    void closeWindow();
    void fit();

    double _nominalRate;
    int64_t _arrivals = 0;
    double _t0 = 0;        // first arrival
    int64_t _frames0 = 0;  // frames in at the first arrival
    Point _window{0, 0};   // earliest arrival of the open window
    int64_t _windowIndex = -1;
    std::vector<Point> _minima;  // one per closed window
    double _slope = 0;           // the residual's drift per second: 1 - real / nominal rate
    double _intercept = 0;       // residual at x = 0 along the slope
};
