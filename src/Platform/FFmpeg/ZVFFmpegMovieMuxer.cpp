#include "Platform/FFmpeg/ZVFFmpegMovieMuxer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>

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
    if (d.formatID == kZVAudioFormat_Opus) return AV_CODEC_ID_OPUS;
    if (d.formatID == kZVAudioFormat_LinearPCM) return pcmCodecFor(d);
    return AV_CODEC_ID_NONE;
}

// A run of one track in the file holds at most this much of its media.
constexpr double kSliceSeconds = 0.5;
// A track's samples waiting for the others stay in memory up to this many bytes.
constexpr int64_t kWaitingInMemory = 8 << 20;

// An anonymous file beside `path`: on the movie's disk, gone once closed. -1 on failure.
int openSpoolBeside(const std::string& path) {
    std::string name = path + ".waitingXXXXXX";
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) ::unlink(name.c_str());
    return fd;
}

bool writeAll(int fd, const uint8_t* data, size_t size, int64_t offset) {
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, offset);
        if (n <= 0) return false;
        data += n, size -= size_t(n), offset += n;
    }
    return true;
}

bool readAll(int fd, uint8_t* data, size_t size, int64_t offset) {
    while (size > 0) {
        const ssize_t n = ::pread(fd, data, size, offset);
        if (n <= 0) return false;
        data += n, size -= size_t(n), offset += n;
    }
    return true;
}

const char* formatName(ZVMovieContainer c) {
    switch (c) {
        case ZVMovieContainer::MP4:
            return "mp4";
        case ZVMovieContainer::WebM:
            return "webm";
        case ZVMovieContainer::GIF:
            return "gif";
        case ZVMovieContainer::QuickTime:
            break;
    }
    return "mov";
}

// The QuickTime text sample description after its common fields: centred at the bottom,
// no background, no box, white 18-point text of font 1, and a font table naming it.
const std::vector<uint8_t> kTextDescription = {
    0, 0,    0, 0,                                               // display flags
    1, 0xFF,                                                     // centred, at the bottom
    0, 0,    0, 0,                                               // background colour (none)
    0, 0,    0, 0,  0,   0,   0,   0,                            // text box: the whole track
    0, 0,    0, 0,  0,   1,   0,   18,  0xFF, 0xFF, 0xFF, 0xFF,  // style: font 1, 18 points, white
    0, 0,    0, 18, 'f', 't', 'a', 'b', 0,    1,    0,    1,    5, 'S', 'e', 'r', 'i', 'f'};

bool setExtradata(AVCodecParameters* par, const std::vector<uint8_t>& bytes) {
    if (bytes.empty()) return true;
    par->extradata = static_cast<uint8_t*>(av_mallocz(bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!par->extradata) return false;
    std::memcpy(par->extradata, bytes.data(), bytes.size());
    par->extradata_size = static_cast<int>(bytes.size());
    return true;
}
}  // namespace

std::shared_ptr<ZVMovieMuxer> ZVFFmpegMovieMuxer::create(const std::string& path,
                                                         ZVMovieContainer container, long* error) {
    auto muxer = std::shared_ptr<ZVFFmpegMovieMuxer>(new ZVFFmpegMovieMuxer());
    muxer->_path = path;
    muxer->_container = container;
    ZVLockGuard g(muxer->_lock);
    int r = avformat_alloc_output_context2(&muxer->_context, nullptr, formatName(container),
                                           path.c_str());
    if (r >= 0) {
        // An existing file is replaced, not overwritten in place.
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) r = AVERROR(errno);
    }
    if (r >= 0) r = avio_open(&muxer->_context->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (r < 0) {
        if (error) *error = muxer->status(r);
        return nullptr;
    }
    muxer->_sliceEnd = -HUGE_VAL;
    return muxer;
}

ZVFFmpegMovieMuxer::~ZVFFmpegMovieMuxer() {
    ZVLockGuard g(_lock);
    for (Track& t : _tracks) {
        for (Waiting& w : t.waiting) av_packet_free(&w.packet);
        if (t.spool >= 0) ::close(t.spool);
    }
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
    if (id != AV_CODEC_ID_NONE && avformat_query_codec(_context->oformat, id, 0) == 0) {
        if (error) *error = kZVMediaErrUnsupported;  // the container cannot hold it
        return -1;
    }
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

int32_t ZVFFmpegMovieMuxer::newTextTrack(int32_t timeScale, long* error) {
    ZVLockGuard g(_lock);
    const bool webm = _container == ZVMovieContainer::WebM;
    if (_container == ZVMovieContainer::GIF) {
        if (error) *error = kZVMediaErrUnsupported;
        return -1;
    }
    AVStream* st = (_headerWritten || _closed || timeScale <= 0)
                       ? nullptr
                       : avformat_new_stream(_context, nullptr);
    if (!st || (!webm && !setExtradata(st->codecpar, kTextDescription))) {
        if (error) *error = st ? AVERROR(ENOMEM) : kZVMediaErrParam;
        return -1;
    }
    st->codecpar->codec_type = AVMEDIA_TYPE_SUBTITLE;
    st->codecpar->codec_id = webm ? AV_CODEC_ID_WEBVTT : AV_CODEC_ID_MOV_TEXT;
    st->time_base = AVRational{1, timeScale};
    Track t;
    t.text = true;
    t.ready = true;
    t.timeScale = timeScale;
    _tracks.push_back(t);
    return static_cast<int32_t>(_tracks.size() - 1);
}

long ZVFFmpegMovieMuxer::setChapters(const std::vector<ZVChapterMark>& chapters) {
    ZVLockGuard g(_lock);
    if (_headerWritten || _closed || _container == ZVMovieContainer::GIF) return kZVMediaErrParam;
    for (size_t i = 0; i < chapters.size(); ++i)
        if (!std::isfinite(chapters[i].time) || chapters[i].time < 0 || chapters[i].time > 1e7 ||
            (i > 0 && chapters[i].time < chapters[i - 1].time))
            return kZVMediaErrParam;
    _chapters = chapters;
    return kZVMediaNoErr;
}

long ZVFFmpegMovieMuxer::addChapters() {
    if (_chapters.empty()) return kZVMediaNoErr;
    double movieEnd = 0;
    for (const Track& t : _tracks)
        movieEnd =
            std::max(movieEnd, t.video || t.text ? double(t.end) / t.timeScale : appendedUntil(t));
    constexpr AVRational kMilliseconds{1, 1000};
    for (const ZVChapterMark& mark : _chapters) {
        const int64_t start = std::llround(mark.time * 1000);
        AVChapter* last =
            _context->nb_chapters ? _context->chapters[_context->nb_chapters - 1] : nullptr;
        // Marks of the same instant share one chapter: a chapter index holds no empty one.
        if (last && start <= last->start) {
            const AVDictionaryEntry* title = av_dict_get(last->metadata, "title", nullptr, 0);
            const std::string both = std::string(title ? title->value : "") + ", " + mark.title;
            av_dict_set(&last->metadata, "title", both.c_str(), 0);
            continue;
        }
        // The context frees its chapters with av_free, so they are made with av_malloc.
        const size_t n = _context->nb_chapters;
        auto* chapter = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
        auto* list = chapter ? static_cast<AVChapter**>(
                                   av_realloc_array(_context->chapters, n + 1, sizeof(AVChapter*)))
                             : nullptr;
        if (!list) {
            av_free(chapter);
            return AVERROR(ENOMEM);
        }
        list[n] = chapter;
        _context->chapters = list;
        _context->nb_chapters = static_cast<unsigned>(n + 1);
        if (last) last->end = start;
        chapter->id = int64_t(n + 1);
        chapter->time_base = kMilliseconds;
        chapter->start = start;
        chapter->end = std::max<int64_t>(start + 1, std::llround(movieEnd * 1000));
        av_dict_set(&chapter->metadata, "title", mark.title.c_str(), 0);
    }
    return kZVMediaNoErr;
}

long ZVFFmpegMovieMuxer::setTrackStart(int32_t track, double seconds) {
    ZVLockGuard g(_lock);
    if (!valid(track) || !std::isfinite(seconds) || seconds < 0 || seconds > 1e7)
        return kZVMediaErrParam;
    Track& t = _tracks[static_cast<size_t>(track)];
    if (t.finished || t.samples > 0) return kZVMediaErrParam;
    t.start = std::llround(seconds * t.timeScale);
    // A later start lets the other tracks' slices before it go out.
    return writeSlices();
}

double ZVFFmpegMovieMuxer::appendedUntil(const Track& t) const {
    if (t.video || t.text) return t.samples > 0 ? double(t.end) / t.timeScale : -HUGE_VAL;
    return double(t.start + t.nextTime) / t.timeScale;
}

long ZVFFmpegMovieMuxer::write(AVPacket* packet) {
    AVStream* st = _context->streams[packet->stream_index];
    const Track& t = _tracks[static_cast<size_t>(packet->stream_index)];
    av_packet_rescale_ts(packet, AVRational{1, t.timeScale}, st->time_base);
    int r = _failure ? 0 : av_write_frame(_context, packet);
    av_packet_free(&packet);
    if (r >= 0 && _context->pb->error < 0) r = _context->pb->error;
    if (r < 0 && !_failure) _failure = status(r);
    return _failure;
}

long ZVFFmpegMovieMuxer::writeHeaderIfReady() {
    if (_headerWritten || _failure) return _failure;
    for (const Track& t : _tracks)
        if (!t.ready) return kZVMediaNoErr;
    AVDictionary* options = nullptr;
    // The index is moved in front of the media when the file is closed.
    if (_container == ZVMovieContainer::QuickTime || _container == ZVMovieContainer::MP4)
        av_dict_set(&options, "movflags", "+faststart", 0);
    int r = avformat_write_header(_context, &options);
    av_dict_free(&options);
    if (r < 0) {
        _failure = status(r);
        return _failure;
    }
    _headerWritten = true;
    return kZVMediaNoErr;
}

long ZVFFmpegMovieMuxer::append(int32_t track, AVPacket* packet) {
    Track& t = _tracks[static_cast<size_t>(track)];
    Waiting w{nullptr,
              packet->pts,
              packet->dts,
              packet->duration,
              packet->flags,
              static_cast<uint32_t>(packet->size),
              0};
    if (t.waitingBytes + packet->size <= kWaitingInMemory) {
        w.packet = packet;
        t.waitingBytes += packet->size;
    } else {
        errno = 0;
        if (t.spool < 0) t.spool = openSpoolBeside(_path);
        const bool spooled =
            t.spool >= 0 && writeAll(t.spool, packet->data, size_t(packet->size), t.spoolEnd);
        av_packet_free(&packet);
        if (!spooled) {
            _failure = status(AVERROR(errno ? errno : EIO));
            return _failure;
        }
        w.offset = t.spoolEnd;
        t.spoolEnd += w.size;
        ++t.spooled;
    }
    t.waiting.push_back(w);
    if (long r = writeHeaderIfReady()) return r;
    return writeSlices();
}

void ZVFFmpegMovieMuxer::writeWaiting(int32_t track) {
    Track& t = _tracks[static_cast<size_t>(track)];
    Waiting w = t.waiting.front();
    t.waiting.pop_front();
    AVPacket* p = w.packet;
    if (p) {
        t.waitingBytes -= w.size;
    } else {
        --t.spooled;
        p = av_packet_alloc();
        if (!p || av_new_packet(p, int(w.size)) < 0 ||
            !readAll(t.spool, p->data, w.size, w.offset)) {
            av_packet_free(&p);
            if (!_failure) _failure = AVERROR(EIO);
            return;
        }
        p->pts = w.pts;
        p->dts = w.dts;
        p->duration = w.duration;
        p->flags = w.flags;
    }
    // An empty spool starts again from its beginning, so it holds only what waits.
    if (t.spool >= 0 && t.spooled == 0 && t.spoolEnd > 0 && ::ftruncate(t.spool, 0) == 0)
        t.spoolEnd = 0;
    p->stream_index = track;
    write(p);
}

long ZVFFmpegMovieMuxer::writeSlices() {
    while (_headerWritten && !_failure) {
        double earliest = HUGE_VAL, horizon = HUGE_VAL;
        for (const Track& t : _tracks) {
            if (!t.waiting.empty())
                earliest = std::min(earliest, double(t.waiting.front().dts) / t.timeScale);
            if (!t.finished) horizon = std::min(horizon, appendedUntil(t));
        }
        if (earliest == HUGE_VAL) break;
        // A slice begins at the earliest sample waiting or still to come, past any stretch
        // without one (a track whose samples are all known may wait far ahead of the rest).
        const double next = std::min(earliest, horizon);
        if (next >= _sliceEnd) _sliceEnd = next + kSliceSeconds;
        if (horizon < _sliceEnd) break;  // a track may still add to this slice
        // The track written last goes last again: its run would otherwise go on into
        // this slice and last twice as long.
        const size_t n = _tracks.size(), last = _lastWritten;
        for (size_t k = 1; k <= n; ++k) {
            const size_t i = (last + k) % n;
            const Track& t = _tracks[i];
            if (!t.waiting.empty() && double(t.waiting.front().dts) / t.timeScale < _sliceEnd)
                _lastWritten = i;
            while (!t.waiting.empty() && double(t.waiting.front().dts) / t.timeScale < _sliceEnd)
                writeWaiting(static_cast<int32_t>(i));
        }
        _sliceEnd += kSliceSeconds;
    }
    return _failure;
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
    }
    AVPacket* p = av_packet_clone(encoded->packet());
    if (!p) return AVERROR(ENOMEM);
    const int64_t scale = encoded->timeScale() > 0 ? encoded->timeScale() : t.timeScale;
    p->pts = av_rescale(p->pts, t.timeScale, scale) + t.start;
    p->dts = av_rescale(p->dts, t.timeScale, scale) + t.start;
    p->duration = av_rescale(encoded->decodeDuration(), t.timeScale, scale);
    p->pos = -1;
    t.end = p->dts + p->duration;
    ++t.samples;
    return append(track, p);
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
    AVPacket* p = av_packet_alloc();
    if (!p || av_new_packet(p, static_cast<int>(size)) < 0) {
        av_packet_free(&p);
        return AVERROR(ENOMEM);
    }
    std::memcpy(p->data, data, size);
    p->pts = p->dts = t.start + t.nextTime;
    p->duration = durationPerSample * sampleCount;
    p->flags |= AV_PKT_FLAG_KEY;
    t.nextTime += p->duration;
    t.samples += sampleCount;
    return append(track, p);
}

long ZVFFmpegMovieMuxer::addTextSample(int32_t track, int64_t start, int64_t duration,
                                       const std::string& text) {
    ZVLockGuard g(_lock);
    if (_failure) return _failure;
    if (!valid(track) || !_tracks[static_cast<size_t>(track)].text) return kZVMediaErrParam;
    Track& t = _tracks[static_cast<size_t>(track)];
    const bool webm = _container == ZVMovieContainer::WebM;
    if (t.finished || start < 0 || duration <= 0 || start + t.start < t.end || text.size() > 0xFFFF)
        return kZVMediaErrParam;
    // No sample shows nothing: the QuickTime muxer ends each text where the next sample
    // of any track passes its end, and WebVTT has no empty cue.
    if (text.empty()) return kZVMediaNoErr;
    // A QuickTime text sample is the text's length (16 bits, big-endian), then the text.
    const size_t prefix = webm ? 0 : 2;
    AVPacket* p = av_packet_alloc();
    if (!p || av_new_packet(p, static_cast<int>(prefix + text.size())) < 0) {
        av_packet_free(&p);
        return AVERROR(ENOMEM);
    }
    if (!webm) p->data[0] = uint8_t(text.size() >> 8), p->data[1] = uint8_t(text.size());
    std::memcpy(p->data + prefix, text.data(), text.size());
    p->pts = p->dts = t.start + start;
    p->duration = duration;
    p->flags |= AV_PKT_FLAG_KEY;
    t.end = p->pts + duration;
    ++t.samples;
    return append(track, p);
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
    if (r == kZVMediaNoErr) r = writeSlices();
    if (r == kZVMediaNoErr && t.samples == 0) r = kZVMediaErrInvalidDuration;
    return r;
}

long ZVFFmpegMovieMuxer::close() {
    ZVLockGuard g(_lock);
    if (_closed) return kZVMediaErrParam;
    for (size_t i = 0; i < _tracks.size(); ++i) {
        if (!_tracks[i].ready) {
            _context->streams[i]->codecpar->codec_id = AV_CODEC_ID_PNG;
            _tracks[i].ready = true;
        }
        // A track never finished still keeps what it got.
        _tracks[i].finished = true;
    }
    long r = _tracks.empty() ? kZVMediaErrParam : writeHeaderIfReady();
    if (r == kZVMediaNoErr) r = writeSlices();
    if (_headerWritten) {
        // Without chapters when the header went out, the QuickTime muxer makes its chapter
        // track as it writes the index, which goes in front of the media all the same.
        if (r == kZVMediaNoErr) r = addChapters();
        int w = av_write_trailer(_context);
        if (w >= 0 && _context->pb->error < 0) w = _context->pb->error;
        if (r == kZVMediaNoErr) r = status(w);
    }
    int c = avio_closep(&_context->pb);
    if (r == kZVMediaNoErr) r = status(c);
    _closed = true;
    return r;
}
