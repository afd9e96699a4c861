// The FFmpeg compression session encoding real pictures, checked by decoding them back.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "Media/ZVMediaToolkit.h"
#include "Platform/FFmpeg/ZVFFmpegMediaToolkit.h"
#include "ZVMediaTestSupport.h"

using namespace zvtest;

namespace {

struct Colour {
    uint8_t b, g, r;
};
const Colour kColours[] = {{200, 40, 30},   {30, 200, 40},  {40, 30, 200},
                           {128, 128, 128}, {20, 220, 220}, {250, 250, 250}};
// Irregular display times (time scale 2500): durations 100, 100, 150, 50, 200, then the
// last repeats 200.
const int64_t kTimes[] = {0, 100, 200, 350, 400, 600};

ZVCompressionSessionOptions sessionOptions() {
    ZVCompressionSessionOptions o;
    o.setMaxKeyFrameInterval(250);
    o.setDurationsNeeded(true);
    uint32_t lett = kZVScalingMode_Letterbox;
    o.setProperty(kZVCompressionSessionOptionsPropertyClass,
                  kZVCompressionSessionOptionsPropertyID_ScalingMode, &lett, 4);
    return o;
}

int maxError(const DecodedPicture& d, int x0, int y0, int x1, int y1, Colour c) {
    int worst = 0;
    for (int y = y0; y < y1; y++)
        for (int x = x0; x < x1; x++) {
            const uint8_t* p = d.at(x, y);
            worst =
                std::max({worst, std::abs(p[0] - c.b), std::abs(p[1] - c.g), std::abs(p[2] - c.r)});
        }
    return worst;
}

class ZVCompressionSessionTest : public ::testing::TestWithParam<uint32_t> {
  protected:
    void SetUp() override { ZVRegisterFFmpegMediaToolkit(); }
};

// Every picture comes back within a small error, in display order with the given times
// and durations worked out from them; every source is released exactly once, and all
// output is in before completeFrames returns.
TEST_P(ZVCompressionSessionTest, RoundTripsInDisplayOrder) {
    SessionRecord record;
    long error = -1;
    auto session = ZVCompressionSession::create(96, 64, GetParam(), 2500, sessionOptions(),
                                                record.output(), &error);
    ASSERT_TRUE(session) << error;
    EXPECT_EQ(session->timeScale(), 2500);
    std::vector<std::unique_ptr<SourcePicture>> pictures;
    for (int i = 0; i < 6; i++) {
        pictures.push_back(
            std::make_unique<SourcePicture>(96, 64, kColours[i].b, kColours[i].g, kColours[i].r));
        ASSERT_EQ(session->encodeFrame(pictures.back()->pixels(), kTimes[i], 0,
                                       kZVValidTimeFlag_DisplayTimeStampIsValid, record.tracking(),
                                       std::make_shared<int>(i)),
                  0);
    }
    ASSERT_EQ(session->completeFrames(), 0);
    std::lock_guard<std::mutex> g(record.lock);
    ASSERT_EQ(record.frames.size(), 6u);
    EXPECT_EQ(record.failures, 0);
    for (int i = 0; i < 6; i++) EXPECT_EQ(record.releases[i], 1) << i;
    EXPECT_TRUE(record.frames.front()->isKeyFrame());
    for (const auto& f : record.frames) {
        int i = int(std::find(std::begin(kTimes), std::end(kTimes), f->displayTimeStamp()) -
                    std::begin(kTimes));
        ASSERT_LT(i, 6) << "unknown time " << f->displayTimeStamp();
        EXPECT_EQ(f->displayDuration(), i < 5 ? kTimes[i + 1] - kTimes[i] : 200);
    }
    auto decoded = decodeFrames(record.frames);
    ASSERT_EQ(decoded.size(), 6u);
    for (int i = 0; i < 6; i++) {
        EXPECT_EQ(decoded[i].pts, kTimes[i]);
        EXPECT_LE(maxError(decoded[i], 0, 0, 96, 64, kColours[i]), 6) << "frame " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Codecs, ZVCompressionSessionTest,
                         ::testing::Values(kZVVideoCodecType_H264, kZVVideoCodecType_ProRes422,
                                           kZVVideoCodecType_Animation, kZVVideoCodecType_HEVC,
                                           kZVVideoCodecType_PNG, kZVVideoCodecType_MotionJPEG),
                         [](const auto& info) {
                             return ZVStringFromFourCC(info.param).substr(0, 3);
                         });

// A wide picture in a square session keeps its proportions: black bars above and below.
// A later frame after completeFrames goes on in the same session.
TEST(ZVCompressionSessionLetterbox, FitsWithBarsAndGoesOnAfterCompleting) {
    ZVRegisterFFmpegMediaToolkit();
    SessionRecord record;
    auto session = ZVCompressionSession::create(80, 80, kZVVideoCodecType_Animation, 600,
                                                sessionOptions(), record.output());
    ASSERT_TRUE(session);
    SourcePicture wide(160, 60, 255, 255, 255);
    ASSERT_EQ(session->encodeFrame(wide.pixels(), 0, 0, kZVValidTimeFlag_DisplayTimeStampIsValid,
                                   record.tracking(), std::make_shared<int>(0)),
              0);
    ASSERT_EQ(session->completeFrames(), 0);
    // No valid time: it follows on from the previous frame.
    ASSERT_EQ(
        session->encodeFrame(wide.pixels(), 0, 0, 0, record.tracking(), std::make_shared<int>(1)),
        0);
    ASSERT_EQ(session->completeFrames(), 0);
    std::lock_guard<std::mutex> g(record.lock);
    ASSERT_EQ(record.frames.size(), 2u);
    EXPECT_GT(record.frames[1]->displayTimeStamp(), record.frames[0]->displayTimeStamp());
    auto decoded = decodeFrames({record.frames[0]});
    ASSERT_EQ(decoded.size(), 1u);
    // 160x60 fitted into 80x80 is 80x30, rows 25 to 54.
    EXPECT_EQ(maxError(decoded[0], 0, 0, 80, 25, {0, 0, 0}), 0);
    EXPECT_EQ(maxError(decoded[0], 0, 26, 80, 54, {255, 255, 255}), 0);
    EXPECT_EQ(maxError(decoded[0], 0, 56, 80, 80, {0, 0, 0}), 0);
}

}  // namespace

// A caller that lets go of its last reference inside the output callback gets no further
// callbacks, and nothing is left waiting or freed twice.
TEST(ZVCompressionSessionOwner, LettingGoInsideTheCallbackEndsTheCallbacks) {
    ZVRegisterFFmpegMediaToolkit();
    std::mutex lock;  // guards holder
    std::shared_ptr<ZVCompressionSession> holder;
    std::atomic<bool> released{false};
    std::atomic<int> calls{0};
    auto session = ZVCompressionSession::create(
        32, 32, kZVVideoCodecType_Animation, 600, sessionOptions(), [&](long, ZVEncodedFrameRef) {
            calls++;
            while (!released) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::shared_ptr<ZVCompressionSession> last;
            {
                std::lock_guard<std::mutex> g(lock);
                last.swap(holder);
            }
            return 0L;  // `last` goes here, inside the callback
        });
    ASSERT_TRUE(session);
    {
        std::lock_guard<std::mutex> g(lock);
        holder = session;
    }
    SourcePicture picture(32, 32, 1, 2, 3);
    for (int i = 0; i < 6; i++)
        session->encodeFrame(picture.pixels(), i * 10, 0, kZVValidTimeFlag_DisplayTimeStampIsValid,
                             nullptr, nullptr);
    session.reset();
    released = true;
    for (int i = 0; i < 500 && calls == 0; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(calls, 1);
    std::lock_guard<std::mutex> g(lock);
    EXPECT_FALSE(holder);
}
