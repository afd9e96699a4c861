#include "Platform/FFmpeg/ZVFFmpegAudioConverter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace {
bool isPCM(const ZVAudioStreamDescription& d) {
    return d.formatID == kZVAudioFormat_LinearPCM;
}

const char* encoderNameFor(uint32_t formatID) {
    if (formatID == kZVAudioFormat_AAC) return "aac";
    if (formatID == kZVAudioFormat_AppleLossless) return "alac";
    if (formatID == kZVAudioFormat_Opus) return "libopus";
    return nullptr;
}

int positiveRate(double rate) {
    return std::isfinite(rate) && rate >= 1 && rate <= 1e6 ? static_cast<int>(std::lround(rate))
                                                           : 0;
}
}  // namespace

AVSampleFormat ZVFFmpegAudioConverter::sampleFormatFor(const ZVAudioStreamDescription& d) {
    // Only little-endian interleaved PCM: what WAV files and the encoders hold.
    if (!isPCM(d) ||
        (d.formatFlags & (kZVAudioFormatFlagIsBigEndian | kZVAudioFormatFlagIsNonInterleaved)))
        return AV_SAMPLE_FMT_NONE;
    const bool isFloat = d.formatFlags & kZVAudioFormatFlagIsFloat;
    const bool isSigned = d.formatFlags & kZVAudioFormatFlagIsSignedInteger;
    if (isFloat)
        return d.bitsPerChannel == 32   ? AV_SAMPLE_FMT_FLT
               : d.bitsPerChannel == 64 ? AV_SAMPLE_FMT_DBL
                                        : AV_SAMPLE_FMT_NONE;
    if (d.bitsPerChannel == 8 && !isSigned) return AV_SAMPLE_FMT_U8;
    if (d.bitsPerChannel == 16 && isSigned) return AV_SAMPLE_FMT_S16;
    if (d.bitsPerChannel == 32 && isSigned) return AV_SAMPLE_FMT_S32;
    return AV_SAMPLE_FMT_NONE;
}

std::shared_ptr<ZVAudioConverter> ZVFFmpegAudioConverter::create(
    const ZVAudioStreamDescription& source, const ZVAudioStreamDescription& destination,
    long* error) {
    auto c = std::shared_ptr<ZVFFmpegAudioConverter>(new ZVFFmpegAudioConverter());
    c->_source = source;
    c->_destination = destination;
    c->_sourceFormat = sampleFormatFor(source);
    c->_sourceRate = positiveRate(source.sampleRate);
    c->_rate = destination.sampleRate > 0 ? positiveRate(destination.sampleRate) : c->_sourceRate;
    c->_channels = static_cast<int>(destination.channelsPerFrame ? destination.channelsPerFrame
                                                                 : source.channelsPerFrame);
    c->_encoderName = encoderNameFor(destination.formatID);
    c->_fifoFormat = sampleFormatFor(destination);  // none for a coded format
    const bool known = c->_encoderName || c->_fifoFormat != AV_SAMPLE_FMT_NONE;
    if (c->_sourceFormat == AV_SAMPLE_FMT_NONE || !known || c->_sourceRate == 0 || c->_rate == 0 ||
        source.channelsPerFrame < 1 || source.channelsPerFrame > 8 || c->_channels < 1 ||
        c->_channels > 8 || (c->_encoderName && !avcodec_find_encoder_by_name(c->_encoderName))) {
        if (error) *error = kZVMediaErrUnsupported;
        return nullptr;
    }
    return c;
}

ZVFFmpegAudioConverter::~ZVFFmpegAudioConverter() {
    swr_free(&_swr);
    avcodec_free_context(&_encoder);
    if (_fifo) av_audio_fifo_free(_fifo);
    av_frame_free(&_frame);
    av_packet_free(&_packet);
}

long ZVFFmpegAudioConverter::setSampleRateConverterQuality(uint32_t quality) {
    if (_opened) return kZVMediaErrParam;
    _quality = std::min<uint32_t>(quality, 127);
    return kZVMediaNoErr;
}

long ZVFFmpegAudioConverter::setCodecSettings(int64_t bitRate,
                                              const std::map<std::string, std::string>& options) {
    if (_opened) return kZVMediaErrParam;
    _bitRate = bitRate;
    _options = options;
    return kZVMediaNoErr;
}

long ZVFFmpegAudioConverter::setCompressionMagicCookie(const std::vector<uint8_t>&) {
    // The encoder makes its own configuration; a cookie from the settings only matters to a
    // decoder, so it is accepted and ignored.
    return kZVMediaNoErr;
}

long ZVFFmpegAudioConverter::open() {
    if (_opened) return _openStatus;
    _opened = true;
    _openStatus = kZVMediaErrEncoder;
    AVChannelLayout inLayout, outLayout;
    av_channel_layout_default(&inLayout, static_cast<int>(_source.channelsPerFrame));
    av_channel_layout_default(&outLayout, _channels);
    _frame = av_frame_alloc();
    _packet = av_packet_alloc();
    if (!_frame || !_packet) return _openStatus;

    if (_encoderName) {
        const AVCodec* codec = avcodec_find_encoder_by_name(_encoderName);
        _encoder = avcodec_alloc_context3(codec);
        if (!_encoder) return _openStatus;
        _encoder->sample_rate = _rate;
        _encoder->time_base = AVRational{1, _rate};
        av_channel_layout_copy(&_encoder->ch_layout, &outLayout);
        _encoder->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
        // Lossless output keeps the depth asked for: 16-bit samples stay 16-bit.
        if (codec->id == AV_CODEC_ID_ALAC && _destination.bitsPerChannel <= 16)
            _encoder->sample_fmt = AV_SAMPLE_FMT_S16P;
        if (_bitRate > 0 && (_destination.formatID == kZVAudioFormat_AAC ||
                             _destination.formatID == kZVAudioFormat_Opus))
            _encoder->bit_rate = _bitRate;
        AVDictionary* dict = nullptr;
        for (const auto& [k, v] : _options) av_dict_set(&dict, k.c_str(), v.c_str(), 0);
        const int r = avcodec_open2(_encoder, codec, &dict);
        av_dict_free(&dict);
        if (r < 0) return _openStatus;
        _fifoFormat = _encoder->sample_fmt;
    }
    if (swr_alloc_set_opts2(&_swr, &outLayout, _fifoFormat, _rate, &inLayout, _sourceFormat,
                            _sourceRate, 0, nullptr) < 0)
        return _openStatus;
    // Render quality 0 ... 127 chooses the resampling filter's length.
    av_opt_set_int(_swr, "filter_size", 8 + static_cast<int>(_quality) / 4, 0);
    if (swr_init(_swr) < 0) return _openStatus;
    _fifo = av_audio_fifo_alloc(_fifoFormat, _channels, 4096);
    if (!_fifo) return _openStatus;
    _openStatus = kZVMediaNoErr;
    return _openStatus;
}

uint32_t ZVFFmpegAudioConverter::maximumOutputPacketSize() {
    if (!_encoderName) return _destination.bytesPerPacket;
    if (open() != kZVMediaNoErr) return 0;
    // AAC: at most 6144 bits per channel; ALAC: a verbatim frame plus its headers.
    if (_destination.formatID == kZVAudioFormat_AAC) return 768u * _channels + 64;
    const int bytes = av_get_bytes_per_sample(_encoder->sample_fmt);
    return static_cast<uint32_t>(std::max(_encoder->frame_size, 4096) * _channels * bytes + 64);
}

std::vector<uint8_t> ZVFFmpegAudioConverter::compressionMagicCookie() {
    if (!_encoderName || open() != kZVMediaNoErr || !_encoder->extradata) return {};
    return {_encoder->extradata, _encoder->extradata + _encoder->extradata_size};
}

uint32_t ZVFFmpegAudioConverter::primingFrames() {
    if (!_encoderName || open() != kZVMediaNoErr) return 0;
    return static_cast<uint32_t>(std::max(_encoder->initial_padding, 0));
}

bool ZVFFmpegAudioConverter::pull(const ZVAudioConverterInputProc& input, uint32_t frames) {
    const uint8_t* data = nullptr;
    uint32_t count = frames;
    const long r = input(count, data);
    uint8_t** planes = nullptr;
    int made = 0;
    if (r == kZVAudioConverterEndOfStream) {
        _inputEnded = true;
        // The resampler's delay line goes out with the end of the input.
        const int room = swr_get_out_samples(_swr, 0);
        if (room > 0 && av_samples_alloc_array_and_samples(&planes, nullptr, _channels, room,
                                                           _fifoFormat, 0) >= 0) {
            made = swr_convert(_swr, planes, room, nullptr, 0);
        }
    } else if (r == kZVMediaNoErr && count > 0 && data) {
        const int room = swr_get_out_samples(_swr, static_cast<int>(count));
        if (room > 0 && av_samples_alloc_array_and_samples(&planes, nullptr, _channels, room,
                                                           _fifoFormat, 0) >= 0) {
            const uint8_t* in[1] = {data};
            made = swr_convert(_swr, planes, room, in, static_cast<int>(count));
        }
    } else {
        return false;
    }
    if (made > 0) av_audio_fifo_write(_fifo, reinterpret_cast<void**>(planes), made);
    if (planes) av_freep(&planes[0]);
    av_freep(&planes);
    return true;
}

long ZVFFmpegAudioConverter::fillPCM(const ZVAudioConverterInputProc& input, uint32_t& ioPackets,
                                     ZVAudioBuffer& output) {
    const uint32_t frameBytes =
        static_cast<uint32_t>(_channels * av_get_bytes_per_sample(_fifoFormat));
    const uint32_t wanted = std::min(ioPackets, output.mDataByteSize / frameBytes);
    while (static_cast<uint32_t>(av_audio_fifo_size(_fifo)) < wanted && !_inputEnded)
        if (!pull(input, wanted - static_cast<uint32_t>(av_audio_fifo_size(_fifo)))) break;
    const int n = std::min<int>(static_cast<int>(wanted), av_audio_fifo_size(_fifo));
    void* planes[1] = {output.mData};
    const int read = n > 0 ? av_audio_fifo_read(_fifo, planes, n) : 0;
    ioPackets = static_cast<uint32_t>(std::max(read, 0));
    output.mDataByteSize = ioPackets * frameBytes;
    return kZVMediaNoErr;
}

long ZVFFmpegAudioConverter::fillComplexBuffer(const ZVAudioConverterInputProc& input,
                                               uint32_t& ioPackets, ZVAudioBuffer& output,
                                               ZVAudioStreamPacketDescription* descriptions) {
    const uint32_t wanted = ioPackets;
    const uint32_t room = output.mDataByteSize;
    ioPackets = 0;
    output.mDataByteSize = 0;
    if (long status = open()) return status;
    if (!output.mData || wanted == 0) return kZVMediaNoErr;
    ZVAudioBuffer pcmOut = output;
    pcmOut.mDataByteSize = room;
    if (!_encoder) {
        ioPackets = wanted;
        const long r = fillPCM(input, ioPackets, pcmOut);
        output.mDataByteSize = pcmOut.mDataByteSize;
        return r;
    }

    auto* out = static_cast<uint8_t*>(output.mData);
    uint32_t bytes = 0;
    const int frameSize = _encoder->frame_size > 0 ? _encoder->frame_size : 1024;
    while (ioPackets < wanted) {
        if (!_havePacket) {
            const int r = avcodec_receive_packet(_encoder, _packet);
            if (r == 0) {
                _havePacket = true;
            } else if (r == AVERROR_EOF) {
                break;
            } else if (r != AVERROR(EAGAIN)) {
                return kZVMediaErrEncoder;
            }
        }
        if (_havePacket) {
            const auto size = static_cast<uint32_t>(_packet->size);
            if (bytes + size > room) {
                if (ioPackets == 0) return kZVMediaErrParam;  // one packet larger than the room
                break;
            }
            std::memcpy(out + bytes, _packet->data, size);
            if (descriptions) {
                descriptions[ioPackets].mStartOffset = bytes;
                descriptions[ioPackets].mDataByteSize = size;
                descriptions[ioPackets].mVariableFramesInPacket =
                    static_cast<uint32_t>(_packet->duration > 0 ? _packet->duration : frameSize);
            }
            bytes += size;
            ++ioPackets;
            av_packet_unref(_packet);
            _havePacket = false;
            continue;
        }
        // The encoder wants input: a whole frame from the FIFO, or at the end what is left.
        const int held = av_audio_fifo_size(_fifo);
        if (held >= frameSize || (_inputEnded && held > 0)) {
            const int n = std::min(held, frameSize);
            av_frame_unref(_frame);
            _frame->nb_samples = n;
            _frame->format = _fifoFormat;
            _frame->sample_rate = _rate;
            av_channel_layout_copy(&_frame->ch_layout, &_encoder->ch_layout);
            if (av_frame_get_buffer(_frame, 0) < 0) return kZVMediaErrEncoder;
            av_audio_fifo_read(_fifo, reinterpret_cast<void**>(_frame->data), n);
            _frame->pts = _nextPts;
            _nextPts += n;
            if (avcodec_send_frame(_encoder, _frame) < 0) return kZVMediaErrEncoder;
            continue;
        }
        if (_inputEnded) {
            if (_encoderFlushed) break;
            _encoderFlushed = true;
            avcodec_send_frame(_encoder, nullptr);
            continue;
        }
        // Ask for about what one more frame needs at the source rate.
        const auto need =
            static_cast<uint32_t>(av_rescale(frameSize - held, _sourceRate, _rate) + 1);
        if (!pull(input, need)) break;
    }
    output.mDataByteSize = bytes;
    return kZVMediaNoErr;
}
