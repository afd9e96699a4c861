// The recorder's time line over a capture device whose server says when each run was
// captured: frame k is captured at t0 + k / (its real rate) give or take a millisecond,
// carries k in its samples, and arrives in bursts of a third of a second, sixty times
// faster than real time, so that a minute's take runs in a second. The device starts
// before the common start time, runs 0.5 % fast against the rate it declares, and its
// server loses a stretch mid-take, which it reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

#include "Platform/Pulse/ZVPulseCapture.h"
#include "ZVAudioTestUtil.h"
#include "ZorvanInternal.h"
#include "support/ZVTestSupport.h"

namespace {

constexpr double kNominal = 44100, kReal = 44320;  // declared, real
constexpr double kSpeedUp = 60;

struct ClockedDevice : ZVCaptureDevice {
    double t0 = 0;                       // when frame 0 was captured
    double started = 0;                  // when the device started, on the real clock
    int64_t lostFrom = 0, lostTo = 0;    // the server lost these frames
    int64_t next = 0;                    // the next frame to hand over; the reader's
    std::atomic<int64_t> handedOver{0};  // the same, for the test to watch
    bool lossReported = false;
    std::mt19937 random{3};

    // Frames captured by now (in simulated time), in whole bursts.
    int64_t end() const {
        const double s = (ZVAbsoluteTimeGetCurrent() - started) * kSpeedUp;
        return std::min<int64_t>(int64_t(std::floor(s / 0.33)) * int64_t(0.33 * kReal),
                                 int64_t(65 * kReal));
    }
    bool start() override {
        if (started == 0) started = ZVAbsoluteTimeGetCurrent();
        return true;
    }
    void stop() override {}
    int32_t framesReady() override {
        int64_t n = 0;
        for (int64_t k = next, e = end(); k < e; ++k) n += k >= lostFrom && k < lostTo ? 0 : 1;
        return int32_t(n);
    }
    ZVCaptureRun peek() override {
        if (next >= lostFrom && next < lostTo) next = lostTo;
        const int64_t e = end();
        if (next >= e) return {};
        const int64_t runEnd = next < lostFrom ? std::min(e, lostFrom) : e;
        std::uniform_real_distribution<double> jitter(-0.001, 0.001);
        const int64_t lost = next == lostTo && !lossReported ? lostTo - lostFrom : 0;
        return {int32_t(runEnd - next), t0 + double(next) / kReal + jitter(random), lost};
    }
    void read(void* buffer, int32_t frames) override {
        if (next == lostTo) lossReported = true;
        auto* out = static_cast<int16_t*>(buffer);
        for (int32_t i = 0; i < frames; ++i, ++next) {
            out[2 * i] = int16_t(next & 0x7FFF);
            out[2 * i + 1] = int16_t(next >> 15);
        }
        handedOver.store(next);
    }
    bool isConnected() override { return true; }
    bool hasCaptured() const override { return true; }
};

struct OneDevice : ZVCaptureProvider {
    mutable ClockedDevice* device = nullptr;
    std::unique_ptr<ZVCaptureDevice> open(const std::string&, uint32_t, int32_t, int32_t,
                                          int32_t*) const override {
        auto d = std::make_unique<ClockedDevice>();
        device = d.get();
        return d;
    }
};

}  // namespace

TEST(ZVSoundInputRecorderTimeLine, EveryFrameLiesWhereItWasCapturedAndLossesAreKeptAsSilence) {
    auto provider = std::make_shared<OneDevice>();
    ZVPlatformServices services = ZVPlatformDefaults();
    services.capture = provider;
    zvtest::LogCapture log;
    ZVQueue queue;
    queue.setLimit(kZVQueueNoLimit);
    auto r = ZVSoundInputRecorder::initWithDevice("clocked", services);
    ASSERT_TRUE(r && provider->device);
    ClockedDevice& device = *provider->device;
    r->setDataDestination(&queue);
    zvaudiotest::Posted stopped(ZVSoundInputRecorderDidStopNotification, r.get());
    // As a session starts it: capture first, then one common time 0.2 s of the device's
    // time later, then the release.
    const double common = ZVAbsoluteTimeGetCurrent();
    const double t0 = device.t0 = common - 0.2;
    const int64_t lost = int64_t(0.5 * kReal);
    device.lostFrom = int64_t(30 * kReal);
    device.lostTo = device.lostFrom + lost;
    ASSERT_TRUE(r->startCapture());
    r->startAtTime(common);
    r->setSuspended(false);
    ASSERT_TRUE(
        zvtest::runMainUntil([&] { return device.handedOver.load() >= int64_t(61 * kReal); }, 20));
    r->stop();
    ASSERT_TRUE(stopped.wait());  // the recorder has closed (and deleted) its device

    // The track begins at the common start, and its rate is the device's real one.
    EXPECT_NEAR(r->startOffsetTime(), 0, 0.002);
    EXPECT_NEAR(r->measuredSampleRate(), kReal, kReal * 20e-6);
    // Each frame lies where it was captured, by the offset and the measured rate: at the
    // start, after the loss, and in the last second of the minute.
    int64_t n = 0, silent = 0;
    double worst = 0;
    for (auto& p : zvaudiotest::drain(queue)) {
        auto* s = reinterpret_cast<const int16_t*>(p->baseAddres());
        for (int32_t i = 0; i < p->numberOfFrames(); ++i, ++n) {
            const int64_t k = int64_t(s[2 * i]) | (int64_t(s[2 * i + 1]) << 15);
            if (k == 0) {
                ++silent;
                continue;
            }
            const double placed =
                common + r->startOffsetTime() + double(n) / r->measuredSampleRate();
            worst = std::max(worst, std::fabs(placed - (t0 + double(k) / kReal)));
        }
    }
    EXPECT_LT(worst, 0.002);
    EXPECT_EQ(n, r->totalFramesRead());
    // The loss: silence of its length, one log line with its place, and the counts.
    EXPECT_EQ(silent, lost);
    EXPECT_EQ(r->filledFrames(), silent);
    ASSERT_EQ(r->losses().size(), 1u);
    EXPECT_NEAR(r->losses()[0].first, 29.8 * kReal / kNominal, 0.002);
    EXPECT_NEAR(r->losses()[0].second, 0.5 * kReal / kNominal, 0.001);
    const auto lines = log.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         "ZVSoundInputRecorder: the sound server lost 0.502 s of sound from "
                         "\"clocked\" 29.949 s into the recording; kept as silence"),
              1);
}

// PipeWire's server's timing reports as the device sees them (origins in ms; NAN: the
// stream was paused there). Only a step that lasts is made good, once, by its size, at the
// report it came with.
TEST(ZVTimingReportFilter, LateReportsAreLeftOutAndALastingStepIsMadeGoodOnceWhereItCame) {
    struct Step {
        int64_t report;
        double ms;
    };
    struct Row {
        const char* what;
        std::vector<double> origins;
        std::vector<Step> steps;  // made good, in order
    } rows[] = {
        {"drift and jitter are followed", {0, 0, 0.3, -0.4, 0.6, 0.2, 2.9, 3.2, 3.0, 3.6, 3.1}, {}},
        // As measured at a stream's start.
        {"the first report early", {-15.5, 3.6, 20.1, 0.1, 10.2, 0.0, 0.2, 10.9, 0.0, 0.1}, {}},
        // As measured after the reader was held up for a second, and up to a cycle late.
        {"late reports, up to three in a row",
         {2.1, 2.1, 2.1, 19.2, 15.2, 2.4, 2.2, 20.2, 12.5, 18.0, 2.0, 2.0, 2.1, 2.0},
         {}},
        // As a busy machine's graph stalled for half a second, then lost three cycles.
        {"cycles lost",
         {-4.4,  -4.4,  -4.4,  -0.6,  -4.2,  -4.3,  -4.5,  182.4, 296.4, 405.6,
          491.8, 491.7, 491.6, 495.8, 491.5, 491.6, 507.6, 507.6, 507.7, 507.6},
         {{6, 186.9}, {7, 114.0}, {8, 109.2}, {9, 86.0}, {15, 16.0}}},
        // Seen as soon as a report comes early: up to three reports before it came.
        {"frames more than time", {0, 0, 0, 0, 0, 0, -12, -12, -12, -12}, {{2, -12}}},
        {"a pause is no loss", {0, 0, 0, 0, 0, NAN, -8, 800, 800, 800, 800, 800}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ZVTimingReportFilter filter(ZVPulseCapture::kGraphLossSeconds);
        std::vector<Step> steps;
        for (double ms : row.origins) {
            if (std::isnan(ms)) {
                filter.restart();
                continue;
            }
            const auto settled = filter.add(ms / 1000);
            if (settled && settled->step != 0)
                steps.push_back({settled->report, settled->step * 1000});
        }
        ASSERT_EQ(steps.size(), row.steps.size());
        for (size_t i = 0; i < steps.size(); ++i) {
            EXPECT_EQ(steps[i].report, row.steps[i].report);
            EXPECT_NEAR(steps[i].ms, row.steps[i].ms, 0.05);
        }
    }
}
