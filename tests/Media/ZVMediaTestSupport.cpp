#include "ZVMediaTestSupport.h"

#include "Platform/FFmpeg/ZVFFmpegEncodedFrame.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

namespace zvtest {

SourcePicture::SourcePicture(int w, int h, uint8_t b, uint8_t g, uint8_t r)
    : width(w), height(h), bytes(size_t(w) * h * 4) {
    for (size_t i = 0; i < bytes.size(); i += 4) {
        bytes[i] = b;
        bytes[i + 1] = g;
        bytes[i + 2] = r;
        bytes[i + 3] = 0xFF;
    }
}

ZVSourcePixels SourcePicture::pixels() const {
    return ZVSourcePixels{bytes.data(), width, height, width * 4};
}

ZVCompressionOutputCallback SessionRecord::output() {
    return [this](long status, ZVEncodedFrameRef frame) {
        std::lock_guard<std::mutex> g(lock);
        if (status == 0 && frame)
            frames.push_back(std::move(frame));
        else
            failures++;
        return status;
    };
}

ZVSourceTrackingCallback SessionRecord::tracking() {
    return [this](uint32_t flags, ZVSourceReference source) {
        if (!(flags & kZVSourceTrackingFlag_ReleasedPixelBuffer)) return;
        std::lock_guard<std::mutex> g(lock);
        releases[*static_cast<int*>(source.get())]++;
    };
}

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

}  // namespace zvtest

// libx265 leaves one of its own allocations unfreed at exit, whatever the caller does;
// the leak checker of the sanitizer builds should not count it against us.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libx265.so\n";
}
