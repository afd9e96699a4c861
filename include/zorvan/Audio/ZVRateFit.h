#pragma once
// A capture device's real rate and time line from when its frames were captured, as the
// sound server says: "frame n was captured at time t" for the first frame of each run.
// Each half second keeps the median of its points (a few of the server's timing reports
// come milliseconds off), and a least-squares line through those medians gives the rate
// once they span kMinMeasureSeconds; medians far off the line are left out of a second
// fit. Not thread-safe: one owner (the
// recorder's worker).
#include <cstdint>
#include <vector>

class ZVRateFit {
  public:
    explicit ZVRateFit(double nominalRate);

    // Frame `frame` was captured at `t` (seconds on the absolute clock).
    void add(double t, int64_t frame);
    bool hasPoints() const { return _points > 0; }
    // When frame `frame` was captured, along the fitted line (along the nominal rate
    // from the latest half second before there is one). Meaningful once there are points.
    double timeAt(int64_t frame) const;
    // Frames per second of the absolute clock: measured once the points span
    // kMinMeasureSeconds, the nominal rate before.
    double rate() const;

    static constexpr double kWindowSeconds = 0.5;
    static constexpr double kMinMeasureSeconds = 10.0;

  private:
    struct Point {
        double x, y;  // seconds since the first point; x - frames / nominal rate
    };
    void fit();
    Point median();  // of the open window's points

    double _nominal;
    int64_t _points = 0;
    double _t0 = 0;
    int64_t _frame0 = 0;
    int64_t _windowIndex = -1;
    std::vector<Point> _window;  // the open window's points
    std::vector<Point> _means;   // one median per closed window
    double _slope = 0;           // 1 - real / nominal rate
    double _intercept = 0;       // y at x = 0 along the slope
};
