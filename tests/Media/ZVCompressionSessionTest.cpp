// The FFmpeg compression session encoding real pictures, checked by decoding them back.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>

#include "Media/ZVMediaToolkit.h"
#include "Platform/FFmpeg/ZVFFmpegEncodedFrame.h"
#include "Platform/FFmpeg/ZVFFmpegMediaToolkit.h"
#include "Platform/FFmpeg/ZVFFmpegScaler.h"
#include "support/ZVTestSupport.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace {

struct Colour {
    uint8_t b, g, r;
};

// A BGRA picture of one colour that a session may borrow.
struct SourcePicture {
    SourcePicture(int w, int h, Colour c) : width(w), height(h) {
        for (int i = 0; i < w * h; ++i) bytes.insert(bytes.end(), {c.b, c.g, c.r, 0xFF});
    }
    ZVSourcePixels pixels() const { return ZVSourcePixels{bytes.data(), width, height, width * 4}; }
    int width, height;
    std::vector<uint8_t> bytes;
};

// Everything a session gave back: encoded frames in arrival order, failures, and how
// often each source (by its index) was released.
struct SessionRecord {
    std::mutex lock;  // guards everything below (callbacks may come from the session thread)
    std::vector<ZVEncodedFrameRef> frames;
    int failures = 0;
    std::map<int, int> releases;

    ZVCompressionOutputCallback output() {
        return [this](long status, ZVEncodedFrameRef frame) {
            std::lock_guard<std::mutex> g(lock);
            if (status == 0 && frame)
                frames.push_back(std::move(frame));
            else
                failures++;
            return status;
        };
    }
    ZVSourceTrackingCallback tracking() {
        return [this](uint32_t flags, ZVSourceReference source) {
            if (!(flags & kZVSourceTrackingFlag_ReleasedPixelBuffer)) return;
            std::lock_guard<std::mutex> g(lock);
            releases[*static_cast<int*>(source.get())]++;
        };
    }
};

struct DecodedPicture {
    int64_t pts = 0;
    int width = 0, height = 0;
    std::vector<uint8_t> bgra;
    const uint8_t* at(int x, int y) const { return &bgra[(size_t(y) * width + x) * 4]; }
};

// Decodes `frames` (decode order, as they arrived) with libavcodec into BGRA pictures in
// display order, each with its display time stamp, so the tests compare pixels and times,
// not encoder internals. Empty when decoding fails.
std::vector<DecodedPicture> decodeFrames(const std::vector<ZVEncodedFrameRef>& frames) {
    std::vector<DecodedPicture> out;
    if (frames.empty()) return out;
    auto first = std::dynamic_pointer_cast<const ZVFFmpegEncodedFrame>(frames.front());
    if (!first) return out;
    const AVCodecParameters* params = first->stream()->parameters();
    const AVCodec* decoder = avcodec_find_decoder(params->codec_id);
    AVCodecContext* c = avcodec_alloc_context3(decoder);
    avcodec_parameters_to_context(c, params);
    c->pkt_timebase = AVRational{1, first->timeScale()};
    if (avcodec_open2(c, decoder, nullptr) < 0) {
        avcodec_free_context(&c);
        return out;
    }
    AVFrame* picture = av_frame_alloc();
    auto take = [&]() {
        while (avcodec_receive_frame(c, picture) == 0) {
            DecodedPicture d;
            d.pts = picture->best_effort_timestamp;
            d.width = picture->width;
            d.height = picture->height;
            d.bgra.resize(size_t(d.width) * d.height * 4);
            SwsContext* sws =
                sws_getContext(d.width, d.height, AVPixelFormat(picture->format), d.width, d.height,
                               AV_PIX_FMT_BGRA, SWS_POINT, nullptr, nullptr, nullptr);
            if (picture->colorspace == AVCOL_SPC_BT709) {
                int full = picture->color_range == AVCOL_RANGE_JPEG;
                sws_setColorspaceDetails(sws, sws_getCoefficients(SWS_CS_ITU709), full,
                                         sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16,
                                         1 << 16);
            }
            uint8_t* dst[1] = {d.bgra.data()};
            int stride[1] = {d.width * 4};
            sws_scale(sws, picture->data, picture->linesize, 0, d.height, dst, stride);
            sws_freeContext(sws);
            out.push_back(std::move(d));
        }
    };
    AVPacket* packet = av_packet_alloc();
    for (const auto& f : frames) {
        auto ff = std::dynamic_pointer_cast<const ZVFFmpegEncodedFrame>(f);
        av_packet_ref(packet, ff->packet());
        avcodec_send_packet(c, packet);
        av_packet_unref(packet);
        take();
    }
    avcodec_send_packet(c, nullptr);
    take();
    av_packet_free(&packet);
    av_frame_free(&picture);
    avcodec_free_context(&c);
    return out;
}

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

class ZVCompressionSessionTest : public ::testing::TestWithParam<uint32_t> {};

// Every picture comes back within a small error, in display order with the given times
// and durations worked out from them; every source is released exactly once, and all
// output is in before completeFrames returns.
TEST_P(ZVCompressionSessionTest, RoundTripsInDisplayOrder) {
    SessionRecord record;
    long error = -1;
    auto session =
        ZVCompressionSession::create(ZVPlatformDefaults().mediaToolkit.get(), 96, 64, GetParam(),
                                     2500, sessionOptions(), record.output(), &error);
    ASSERT_TRUE(session) << error;
    std::vector<std::unique_ptr<SourcePicture>> pictures;
    for (int i = 0; i < 6; i++) {
        pictures.push_back(std::make_unique<SourcePicture>(96, 64, kColours[i]));
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
    SessionRecord record;
    auto session = ZVCompressionSession::create(ZVPlatformDefaults().mediaToolkit.get(), 80, 80,
                                                kZVVideoCodecType_Animation, 600, sessionOptions(),
                                                record.output());
    ASSERT_TRUE(session);
    SourcePicture wide(160, 60, {255, 255, 255});
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
    std::atomic<std::shared_ptr<ZVCompressionSession>> holder;
    std::atomic<bool> released{false};
    std::atomic<int> calls{0};
    auto session = ZVCompressionSession::create(
        ZVPlatformDefaults().mediaToolkit.get(), 32, 32, kZVVideoCodecType_Animation, 600,
        sessionOptions(), [&](long, ZVEncodedFrameRef) {
            calls++;
            while (!released) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            auto last = holder.exchange(nullptr);
            return 0L;  // `last` goes here, inside the callback
        });
    ASSERT_TRUE(session);
    holder = session;
    SourcePicture picture(32, 32, {1, 2, 3});
    for (int i = 0; i < 6; i++)
        session->encodeFrame(picture.pixels(), i * 10, 0, kZVValidTimeFlag_DisplayTimeStampIsValid,
                             nullptr, nullptr);
    session.reset();
    released = true;
    zvtest::eventually([&] { return calls > 0; });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(holder.load());
}

// libx265 leaves one of its own allocations unfreed at exit, whatever the caller does;
// the leak checker of the sanitizer builds should not count it against us.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libx265.so\n";
}

// A view and a patch converted into 4:2:0 pictures: the view at twice the size begins
// where its fraction says, and a patch of a width the scaler handles in pieces changes
// its own pixels and none beside it.
TEST(ZVFFmpegScalerView, AViewFillsThePictureAndAPatchStaysInItsPlace) {
    // A grey picture whose left half is black.
    SourcePicture grey(64, 32, {128, 128, 128});
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) std::fill_n(&grey.bytes[size_t(y * 64 + x) * 4], 3, 0);
    const SourcePicture white(52, 8, {255, 255, 255});
    ZVFFmpegScaler scaler(64, 32, AV_PIX_FMT_YUV420P, false, 1, 1);
    for (float x : {0.0f, 16.0f, 16.5f}) {
        ZVSourcePixels pixels = grey.pixels();
        pixels.view = {{x, 8}, {32, 16}};
        pixels.patches.push_back({white.bytes.data(), 52, 8, 52 * 4, 4, 10});
        AVFrame* frame = scaler.convert(pixels);
        ASSERT_TRUE(frame);
        const auto luma = [&](int px, int py) {
            return frame->data[0][py * frame->linesize[0] + px];
        };
        // The black half ends at 2 * (32 - x) in the picture.
        const int edge = int(2 * (32 - x));
        if (edge > 2) {
            EXPECT_LT(luma(edge - 3, 2), 40) << x;
        }
        if (edge < 61) {
            EXPECT_GT(luma(edge + 2, 2), 100) << x;
        }
        EXPECT_GT(luma(4, 12), 230) << x;
        EXPECT_GT(luma(55, 12), 230) << x;
        EXPECT_EQ(luma(56, 12), luma(56, 2)) << x;  // beside the patch: the view's own
        av_frame_free(&frame);
    }
}
