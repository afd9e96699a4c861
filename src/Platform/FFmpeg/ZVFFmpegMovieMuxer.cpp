#include "Platform/FFmpeg/ZVFFmpegMovieMuxer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "Platform/FFmpeg/ZVFFmpegEncodedFrame.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

namespace {
AVCodecID pcmCodecFor(const ZVAudioStreamDescription& d) {
    const bool isFloat = d.formatFlags & kZVAudioFormatFlagIsFloat;
    const bool big = d.formatFlags & kZVAudioFormatFlagIsBigEndian;
    const bool isSigned = d.formatFlags & kZVAudioFormatFlagIsSignedInteger;
    switch (d.bitsPerChannel) {
        case 8:
            return isSigned ? AV_CODEC_ID_PCM_S8 : AV_CODEC_ID_PCM_U8;
        case 16:
            return big ? AV_CODEC_ID_PCM_S16BE : AV_CODEC_ID_PCM_S16LE;
        case 24:
            return big ? AV_CODEC_ID_PCM_S24BE : AV_CODEC_ID_PCM_S24LE;
        case 32:
            if (isFloat) return big ? AV_CODEC_ID_PCM_F32BE : AV_CODEC_ID_PCM_F32LE;
            return big ? AV_CODEC_ID_PCM_S32BE : AV_CODEC_ID_PCM_S32LE;
        case 64:
            return isFloat ? (big ? AV_CODEC_ID_PCM_F64BE : AV_CODEC_ID_PCM_F64LE)
                           : AV_CODEC_ID_NONE;
        default:
            return AV_CODEC_ID_NONE;
    }
}

AVCodecID soundCodecFor(const ZVAudioStreamDescription& d) {
    if (d.formatID == kZVAudioFormat_AAC) return AV_CODEC_ID_AAC;
    if (d.formatID == kZVAudioFormat_AppleLossless) return AV_CODEC_ID_ALAC;
    if (d.formatID == kZVAudioFormat_LinearPCM) return pcmCodecFor(d);
    return AV_CODEC_ID_NONE;
}

// One spooled run of sound samples; its bytes follow it.
struct SpoolRecord {
    int64_t time;  // media time, before the track's start is added
    int64_t duration;
    uint32_t size;
    uint32_t padding;  // written as zero: no byte of the record is left unset
};

// An anonymous file beside `path`: on the movie's disk, gone once closed.
std::FILE* openSpoolBeside(const std::string& path) {
    std::string name = path + ".soundXXXXXX";
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return nullptr;
    ::unlink(name.c_str());
    std::FILE* f = ::fdopen(fd, "w+b");
    if (!f) ::close(fd);
    return f;
}

bool setExtradata(AVCodecParameters* par, const std::vector<uint8_t>& bytes) {
    if (bytes.empty()) return true;
    par->extradata = static_cast<uint8_t*>(av_mallocz(bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!par->extradata) return false;
    std::memcpy(par->extradata, bytes.data(), bytes.size());
    par->extradata_size = static_cast<int>(bytes.size());
    return true;
}
}  // namespace

std::shared_ptr<ZVMovieMuxer> ZVFFmpegMovieMuxer::create(const std::string& path, long* error) {
    auto muxer = std::shared_ptr<ZVFFmpegMovieMuxer>(new ZVFFmpegMovieMuxer());
    muxer->_path = path;
    ZVLockGuard g(muxer->_lock);
    int r = avformat_alloc_output_context2(&muxer->_context, nullptr, "mov", path.c_str());
    if (r >= 0) {
        // An existing file is replaced, not overwritten in place.
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) r = AVERROR(errno);
    }
    if (r >= 0) r = avio_open(&muxer->_context->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (r < 0) {
        if (error) *error = muxer->status(r);
        return nullptr;
    }
    return muxer;
}

ZVFFmpegMovieMuxer::~ZVFFmpegMovieMuxer() {
    ZVLockGuard g(_lock);
    for (AVPacket*& p : _held) av_packet_free(&p);
    for (Track& t : _tracks)
        if (t.spool) std::fclose(t.spool);
    if (_context) {
        if (!_closed && _context->pb) avio_closep(&_context->pb);
        avformat_free_context(_context);
    }
}

long ZVFFmpegMovieMuxer::status(int r) const {
    if (r >= 0) return kZVMediaNoErr;
    if (r == AVERROR(ENOSPC) || r == AVERROR(EFBIG) || r == AVERROR(EDQUOT))
        return kZVMediaErrDiskFull;
    return r;
}

bool ZVFFmpegMovieMuxer::valid(int32_t track) const {
    return track >= 0 && static_cast<size_t>(track) < _tracks.size() && !_closed;
}

int32_t ZVFFmpegMovieMuxer::newVideoTrack(int32_t width, int32_t height, int32_t timeScale,
                                          long* error) {
    ZVLockGuard g(_lock);
    AVStream* st = (_headerWritten || _closed || timeScale <= 0 || width <= 0 || height <= 0)
                       ? nullptr
                       : avformat_new_stream(_context, nullptr);
    if (!st) {
        if (error) *error = kZVMediaErrParam;
        return -1;
    }
    st->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    st->codecpar->width = width;
    st->codecpar->height = height;
    st->time_base = AVRational{1, timeScale};
    Track t;
    t.video = true;
    t.timeScale = timeScale;
    _tracks.push_back(t);
    return static_cast<int32_t>(_tracks.size() - 1);
}

int32_t ZVFFmpegMovieMuxer::newSoundTrack(const ZVSoundDescription& d, int32_t timeScale,
                                          long* error) {
    ZVLockGuard g(_lock);
    const AVCodecID id = soundCodecFor(d.format);
    const int channels = static_cast<int>(d.format.channelsPerFrame);
    AVStream* st = (_headerWritten || _closed || timeScale <= 0 || id == AV_CODEC_ID_NONE ||
                    channels < 1 || channels > 8)
                       ? nullptr
                       : avformat_new_stream(_context, nullptr);
    if (!st || !setExtradata(st->codecpar, d.magicCookie)) {
        if (error) *error = st ? AVERROR(ENOMEM) : kZVMediaErrParam;
        return -1;
    }
    AVCodecParameters* par = st->codecpar;
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = id;
    par->sample_rate = timeScale;
    av_channel_layout_default(&par->ch_layout, channels);
    par->frame_size = static_cast<int>(d.format.framesPerPacket);
    par->initial_padding = static_cast<int>(d.primingFrames);
    if (d.format.formatID == kZVAudioFormat_LinearPCM) {
        par->bits_per_coded_sample = static_cast<int>(d.format.bitsPerChannel);
        par->block_align = static_cast<int>(d.format.bytesPerFrame);
    }
    st->time_base = AVRational{1, timeScale};
    Track t;
    t.ready = true;
    t.timeScale = timeScale;
    // Priming frames sit before the first recorded sample: the media starts that much
    // earlier, and the edit skips them.
    t.nextTime = -static_cast<int64_t>(d.primingFrames);
    _tracks.push_back(t);
    return static_cast<int32_t>(_tracks.size() - 1);
}

long ZVFFmpegMovieMuxer::setTrackStart(int32_t track, double seconds) {
    ZVLockGuard g(_lock);
    if (!valid(track) || !std::isfinite(seconds) || seconds < 0 || seconds > 1e7)
        return kZVMediaErrParam;
    Track& t = _tracks[static_cast<size_t>(track)];
    if (t.finished || (t.video && t.samples > 0)) return kZVMediaErrParam;
    t.start = std::llround(seconds * t.timeScale);
    return kZVMediaNoErr;
}

long ZVFFmpegMovieMuxer::write(AVPacket* packet) {
    if (!_headerWritten) {
        _held.push_back(packet);
        return kZVMediaNoErr;
    }
    AVStream* st = _context->streams[packet->stream_index];
    const Track& t = _tracks[static_cast<size_t>(packet->stream_index)];
    av_packet_rescale_ts(packet, AVRational{1, t.timeScale}, st->time_base);
    int r = av_write_frame(_context, packet);
    av_packet_free(&packet);
    if (r >= 0 && _context->pb->error < 0) r = _context->pb->error;
    if (r < 0) _failure = status(r);
    return _failure;
}

long ZVFFmpegMovieMuxer::writeHeaderIfReady() {
    if (_headerWritten) return kZVMediaNoErr;
    for (const Track& t : _tracks)
        if (!t.ready) return kZVMediaNoErr;
    int r = avformat_write_header(_context, nullptr);
    if (r < 0) {
        _failure = status(r);
        return _failure;
    }
    _headerWritten = true;
    std::vector<AVPacket*> held;
    held.swap(_held);
    long result = kZVMediaNoErr;
    for (AVPacket* p : held) {
        if (result == kZVMediaNoErr)
            result = write(p);
        else
            av_packet_free(&p);
    }
    return result;
}

long ZVFFmpegMovieMuxer::addVideoSample(int32_t track, const ZVEncodedFrameRef& frame) {
    ZVLockGuard g(_lock);
    if (_failure) return _failure;
    auto* encoded = dynamic_cast<const ZVFFmpegEncodedFrame*>(frame.get());
    if (!valid(track) || !encoded || !_tracks[static_cast<size_t>(track)].video)
        return kZVMediaErrParam;
    Track& t = _tracks[static_cast<size_t>(track)];
    if (t.finished) return kZVMediaErrParam;
    if (!t.ready) {
        AVCodecParameters* par = _context->streams[track]->codecpar;
        if (!encoded->stream() || avcodec_parameters_copy(par, encoded->stream()->parameters()) < 0)
            return kZVMediaErrParam;
        par->codec_tag = 0;
        t.ready = true;
        t.firstDts = encoded->packet()->dts;
    }
    AVPacket* p = av_packet_clone(encoded->packet());
    if (!p) return AVERROR(ENOMEM);
    const int64_t scale = encoded->timeScale() > 0 ? encoded->timeScale() : t.timeScale;
    p->pts = av_rescale(p->pts, t.timeScale, scale) + t.start;
    p->dts = av_rescale(p->dts, t.timeScale, scale) + t.start;
    p->duration = av_rescale(encoded->decodeDuration(), t.timeScale, scale);
    p->stream_index = track;
    ++t.samples;
    if (long r = writeHeaderIfReady()) {
        av_packet_free(&p);
        return r;
    }
    return write(p);
}

long ZVFFmpegMovieMuxer::addSoundSamples(int32_t track, const uint8_t* data, uint32_t size,
                                         int64_t durationPerSample, uint32_t sampleCount) {
    ZVLockGuard g(_lock);
    if (_failure) return _failure;
    if (!valid(track) || _tracks[static_cast<size_t>(track)].video || !data || size == 0 ||
        durationPerSample <= 0 || sampleCount == 0)
        return kZVMediaErrParam;
    Track& t = _tracks[static_cast<size_t>(track)];
    if (t.finished || size > INT32_MAX) return kZVMediaErrParam;
    errno = 0;
    if (!t.spool) t.spool = openSpoolBeside(_path);
    const SpoolRecord r{t.nextTime, durationPerSample * sampleCount, size, 0};
    if (!t.spool || std::fwrite(&r, sizeof r, 1, t.spool) != 1 ||
        std::fwrite(data, 1, size, t.spool) != size) {
        _failure = status(AVERROR(errno ? errno : EIO));
        return _failure;
    }
    t.nextTime += r.duration;
    t.samples += sampleCount;
    return kZVMediaNoErr;
}

long ZVFFmpegMovieMuxer::writeSpool(int32_t track) {
    Track& t = _tracks[static_cast<size_t>(track)];
    std::FILE* spool = std::exchange(t.spool, nullptr);
    if (!spool) return kZVMediaNoErr;
    errno = 0;
    if (!_failure && (std::fflush(spool) != 0 || std::fseek(spool, 0, SEEK_SET) != 0))
        _failure = status(AVERROR(errno ? errno : EIO));
    SpoolRecord r;
    while (!_failure && std::fread(&r, sizeof r, 1, spool) == 1) {
        AVPacket* p = av_packet_alloc();
        if (!p || av_new_packet(p, static_cast<int>(r.size)) < 0 ||
            std::fread(p->data, 1, r.size, spool) != r.size) {
            av_packet_free(&p);
            _failure = AVERROR(EIO);
            break;
        }
        p->pts = p->dts = r.time + t.start;
        p->duration = r.duration;
        p->flags |= AV_PKT_FLAG_KEY;
        p->stream_index = track;
        write(p);
    }
    std::fclose(spool);
    return _failure;
}

long ZVFFmpegMovieMuxer::finishTrack(int32_t track) {
    ZVLockGuard g(_lock);
    if (!valid(track)) return kZVMediaErrParam;
    Track& t = _tracks[static_cast<size_t>(track)];
    t.finished = true;
    if (!t.ready) {
        // A video track that never got a frame still needs parameters for the header.
        AVCodecParameters* par = _context->streams[track]->codecpar;
        par->codec_id = AV_CODEC_ID_PNG;
        t.ready = true;
    }
    long r = writeHeaderIfReady();
    if (r == kZVMediaNoErr) r = writeSpool(track);
    if (r == kZVMediaNoErr && t.samples == 0) r = kZVMediaErrInvalidDuration;
    return r;
}

long ZVFFmpegMovieMuxer::close() {
    ZVLockGuard g(_lock);
    if (_closed) return kZVMediaErrParam;
    for (size_t i = 0; i < _tracks.size(); ++i)
        if (!_tracks[i].ready) {
            _context->streams[i]->codecpar->codec_id = AV_CODEC_ID_PNG;
            _tracks[i].ready = true;
        }
    long r = _tracks.empty() ? kZVMediaErrParam : writeHeaderIfReady();
    // A sound track never finished still keeps what it got.
    for (size_t i = 0; i < _tracks.size() && _headerWritten; ++i)
        if (long s = writeSpool(static_cast<int32_t>(i)); r == kZVMediaNoErr) r = s;
    if (_headerWritten) {
        int w = av_write_trailer(_context);
        if (w >= 0 && _context->pb->error < 0) w = _context->pb->error;
        if (r == kZVMediaNoErr) r = status(w);
    }
    int c = avio_closep(&_context->pb);
    if (r == kZVMediaNoErr) r = status(c);
    _closed = true;
    return r;
}
