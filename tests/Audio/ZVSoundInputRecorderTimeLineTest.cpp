// The recorder's time line over a device that runs on the clock: frame k is captured at
// start + k / rate, handed over in 10 ms deliveries 2 ms later, and carries k in its
// samples, so every recorded frame can be checked against when it was really captured.
// The device is slow to start (its first 0.4 s never come) and stalls mid-recording,
// losing those frames or handing them over late.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <thread>

#include "ZVAudioTestUtil.h"
#include "ZVFakeOpenAL.h"
#include "Zorvan.h"
#include "support/ZVTestSupport.h"

namespace {

constexpr double kRate = 44100;
constexpr int64_t kDelivery = 441;

struct ClockedDevice {
    bool stallLoses = true;
    double stallEnd = 1.1;  // it stalls from 0.8 s
    std::atomic<double> started{0};
    int64_t next = 0;  // the next frame to hand over; reader only

    // Frames [a, b) of the slow start and of the stall, by capture time.
    static int64_t frameAt(double seconds) { return int64_t(seconds * kRate); }
    bool lost(int64_t k) const {
        return k < frameAt(0.4) || (stallLoses && k >= frameAt(0.8) && k < frameAt(stallEnd));
    }
    // Frames delivered by now: whole deliveries, and none of the stall before it ends.
    int64_t end() const {
        const double s = ZVAbsoluteTimeGetCurrent() - started.load() - 0.002;
        int64_t k = kDelivery * int64_t(std::floor(s * kRate / kDelivery));
        if (s < stallEnd) k = std::min(k, frameAt(0.8));
        return std::max<int64_t>(k, 0);
    }
    int32_t ready() {
        int64_t n = 0;
        for (int64_t k = next, e = end(); k < e; ++k) n += lost(k) ? 0 : 1;
        return int32_t(n);
    }
    void read(int16_t* out, int32_t frames) {
        for (int32_t i = 0; i < frames; ++next) {
            if (lost(next)) continue;
            out[2 * i] = int16_t(next & 0x7FFF);
            out[2 * i + 1] = int16_t(next >> 15);
            ++i;
        }
    }
};
}  // namespace

TEST(ZVSoundInputRecorderTimeLine, EveryFrameLiesWhereItWasCapturedThroughStallsAndASlowStart) {
    struct Case {
        const char* what;
        bool loses;
        double stall, seconds;  // the stall's length, the recording's
        double settled;         // from then on (device time) every frame is in place
    } cases[] = {{"a stall that loses 300 ms", true, 0.3, 1.5, 0},
                 {"a stall that hands 300 ms late", false, 0.3, 1.5, 0},
                 // too short to tell at once: filled within half a second
                 {"a stall that loses 60 ms", true, 0.06, 2.5, 1.5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClockedDevice device;
        device.stallLoses = c.loses;
        device.stallEnd = 0.8 + c.stall;
        ZVFakeOpenAL al;
        al.onStart = [&] {
            if (device.started.load() == 0) device.started.store(ZVAbsoluteTimeGetCurrent());
        };
        al.readyFrames = [&] { return device.ready(); };
        al.fill = [&](void* b, int32_t n) { device.read(static_cast<int16_t*>(b), n); };
        zvtest::LogCapture log;
        ZVQueue queue;
        queue.setLimit(kZVQueueNoLimit);
        auto r = ZVSoundInputRecorder::initWithDevice("clocked");
        ASSERT_TRUE(r);
        r->setDataDestination(&queue);
        zvaudiotest::Posted stopped(ZVSoundInputRecorderDidStopNotification, r.get());
        // As a host starts it: suspended, one common time, then released.
        const double common = ZVAbsoluteTimeGetCurrent();
        r->startAtTime(common);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        r->setSuspended(false);
        std::this_thread::sleep_for(std::chrono::duration<double>(c.seconds));
        r->stop();
        ASSERT_TRUE(stopped.wait());

        // The slow start shows as a later offset, not as sound placed early.
        EXPECT_GT(r->startOffsetTime(), 0.35);
        const double first = common + r->startOffsetTime();
        int64_t n = 0, checked = 0;
        double worst = 0;
        for (auto& p : zvaudiotest::drain(queue)) {
            auto* s = reinterpret_cast<const int16_t*>(p->baseAddres());
            for (int32_t i = 0; i < p->numberOfFrames(); ++i, ++n) {
                const int64_t k = int64_t(s[2 * i]) | (int64_t(s[2 * i + 1]) << 15);
                if (k == 0) continue;  // silence put in for lost frames
                if (double(k) / kRate < c.settled) continue;
                const double heard = device.started.load() + double(k) / kRate;
                worst = std::max(worst, std::fabs(first + double(n) / kRate - heard));
                ++checked;
            }
        }
        EXPECT_GT(checked, int64_t(0.5 * kRate));
        EXPECT_LT(worst, 0.015);
        EXPECT_EQ(n, r->totalFramesRead());

        // A loss is one log line with its length and place; a late delivery is no loss.
        int lines = 0;
        double seconds = 0, into = 0;
        for (const auto& line : log.lines()) {
            if (line.find("\"clocked\" lost ") == std::string::npos) continue;
            ++lines;
            int end = 0;
            std::sscanf(line.c_str(),
                        "ZVSoundInputRecorder: \"clocked\" lost %lf s of sound %lf s into the "
                        "recording; filled with silence%n",
                        &seconds, &into, &end);
            EXPECT_EQ(size_t(end), line.size()) << line;
            // The track began 0.4 s before the stall; a short loss is filled once told.
            EXPECT_TRUE(into > 0.35 && into < 1.0) << line;
        }
        EXPECT_EQ(lines, c.loses ? 1 : 0);
        EXPECT_EQ(r->filledGaps(), c.loses ? 1 : 0);
        if (c.loses) {
            EXPECT_NEAR(seconds, c.stall, 0.015);
            EXPECT_NEAR(double(r->filledFrames()) / kRate, c.stall, 0.015);
        }
    }
}
