#include "Export/ZVSoundEncoder.h"

#include <cmath>

#include "Audio/ZVSoundPacket.h"
#include "Media/ZVAudioConverter.h"
#include "Media/ZVCodecSettings.h"
#include "Media/ZVEncodedSoundPacket.h"

ZVAudioStreamDescription ZVSoundEncoder::LPCMASBDForFormat(ZVSoundFormat f) {
    ZVAudioStreamDescription d;
    d.sampleRate = f.sampleRate;
    d.formatID = kZVAudioFormat_LinearPCM;
    uint32_t flags = 0x80000000u;
    if (f.flags & kZVSoundFormatBigEndian) flags |= kZVAudioFormatFlagIsBigEndian;
    if (f.flags & kZVSoundFormatFloat) flags |= kZVAudioFormatFlagIsFloat;
    if (f.flags & kZVSoundFormatSignedInteger) flags |= kZVAudioFormatFlagIsSignedInteger;
    if (f.flags & kZVSoundFormatAlignedHigh) flags |= 0x10;
    d.formatFlags = flags;
    d.bytesPerPacket = d.bytesPerFrame =
        static_cast<uint32_t>(int64_t{f.numberOfChannels} * f.bitsPerChannel / 8);
    d.framesPerPacket = 1;
    d.channelsPerFrame = static_cast<uint32_t>(f.numberOfChannels);
    d.bitsPerChannel = static_cast<uint32_t>(f.bitsPerChannel);
    return d;
}

std::shared_ptr<ZVSoundEncoder> ZVSoundEncoder::initWithPreset(const ZVEncodingPreset& preset,
                                                               ZVSoundFormat sourceFormat,
                                                               const ZVPlatformServices& services) {
    auto e = std::shared_ptr<ZVSoundEncoder>(new ZVSoundEncoder());
    e->_sourceFormat = sourceFormat;
    const ZVAudioStreamDescription sourceASBD = LPCMASBDForFormat(sourceFormat);

    // Damaged settings are not reported here: the defaults stay (the preset command and
    // the compressor report them).
    ZVCodecSettings settings(ZVCodecSettingsKind::sound);
    if (auto handle = preset.soundSettings()) settings.load(*handle);
    e->_destinationASBD = settings.outputDescription();
    // What the settings leave open follows the source.
    if (e->_destinationASBD.sampleRate <= 0)
        e->_destinationASBD.sampleRate = sourceFormat.sampleRate;
    if (e->_destinationASBD.channelsPerFrame == 0)
        e->_destinationASBD.channelsPerFrame = sourceASBD.channelsPerFrame;
    if (e->_destinationASBD.framesPerPacket == 0) e->_destinationASBD.framesPerPacket = 1;
    e->_formatRequiresPacketDescriptions = settings.needsPacketDescriptions();
    e->_channelLayoutTag = settings.channelLayoutTag();

    e->_converter =
        ZVAudioConverter::create(services.mediaToolkit.get(), sourceASBD, e->_destinationASBD);
    if (!e->_converter) return nullptr;
    e->_converter->setSampleRateConverterQuality(settings.renderQuality());
    if (!settings.codecOptions().empty() || settings.bitRate() > 0)
        e->_converter->setCodecSettings(settings.bitRate(), settings.codecOptions());
    else if (!settings.magicCookie().empty())
        e->_converter->setCompressionMagicCookie(settings.magicCookie());
    // The encoder must accept its settings now, not at the first fill.
    if (e->_formatRequiresPacketDescriptions && e->_converter->maximumOutputPacketSize() == 0)
        return nullptr;

    using D = ZVSoundEncoderDelegateInfromalProtocol;
    ZVSoundEncoder* raw = e.get();
    e->forwardCoalescedToDelegate(
        ZVSoundEncoderWillEncodeFrames, [raw] { return raw->delegate() != nullptr; },
        [raw](const ZVNotification& n) {
            const ZVValue* frames = n.userInfo.get(kNumFramesKey);
            if (D* d = raw->delegate())
                d->ZVSoundEncoderWillEncodeFrames(
                    raw, static_cast<int32_t>(frames ? frames->intValue() : 0));
        });
    e->forwardToDelegate(ZVSoundEncoderDidStopNotification, [raw](const ZVNotification&) {
        if (D* d = raw->delegate()) d->ZVSoundEncoderDidStop(raw);
    });
    return e;
}

std::unique_ptr<ZVSoundDescription> ZVSoundEncoder::getSoundDescription() const {
    auto d = std::make_unique<ZVSoundDescription>();
    d->format = _destinationASBD;
    d->channelLayoutTag = _channelLayoutTag;
    d->magicCookie = _converter->compressionMagicCookie();
    d->primingFrames = _converter->primingFrames();
    return d;
}

uint32_t ZVSoundEncoder::packetsPerBlock() const {
    const double frames = _destinationASBD.sampleRate * 5.0;
    const auto perBlock =
        std::isfinite(frames) && frames > 0 && frames < 4e9 ? static_cast<uint32_t>(frames) : 0u;
    return perBlock / _destinationASBD.framesPerPacket + 2;
}

uint32_t ZVSoundEncoder::blockSize() const {
    const uint32_t bytesPerPacket = _destinationASBD.bytesPerPacket
                                        ? _destinationASBD.bytesPerPacket
                                        : _converter->maximumOutputPacketSize();
    return packetsPerBlock() * bytesPerPacket;
}

void ZVSoundEncoder::start() {
    launchWorker([this] { soundEncoder(); }, ZVSoundEncoderDidStopNotification);
}

void ZVSoundEncoder::soundEncoder() {
    const uint32_t packets = packetsPerBlock();
    const uint32_t bytes = blockSize();
    _draining = false;
    _currentPacket.reset();
    _worker.running();
    _worker.loop([&] {
        return _worker.produce(destination(), [&] { return encodeBlock(packets, bytes); });
    });
}

ZVStep ZVSoundEncoder::encodeBlock(uint32_t packets, uint32_t bytes) {
    auto block = ZVEncodedSoundPacket::soundPacketWithInterleavedStereoBufferOfSize(bytes);
    if (!block) return ZVStep::Idle;
    if (_formatRequiresPacketDescriptions) block->setNeedsPacketDescriptionsForNumPackets(packets);
    uint32_t produced = packets;
    const long status = _converter->fillComplexBuffer(
        [this](uint32_t& frames, const uint8_t*& data) {
            getPackets(&data, frames);
            if (frames > 0) return kZVMediaNoErr;
            return _draining ? kZVAudioConverterEndOfStream : kZVAudioConverterNoDataNow;
        },
        produced, block->bufferList()[0], block->packetDescription());
    if (status != kZVMediaNoErr) {
        fail("The sound could not be encoded (error " + std::to_string(status) + ")");
        stop();
        return ZVStep::Worked;
    }
    if (produced > 0) {
        block->setActualNumberOfPackets(produced);
        destination().addObject(std::move(block));
        return ZVStep::Worked;
    }
    // Nothing made: the fill was woken by a stop or a pause, or the converter has given
    // out its remainder after the end of the source, which ends the run.
    if (_draining) _worker.endOfStream();
    return ZVStep::Worked;
}

void ZVSoundEncoder::getPackets(const uint8_t** data, uint32_t& count) {
    if (_currentPacket && _currentPacket->dataSize() <= _currentPacketOffset)
        _currentPacket.reset();
    while (!_currentPacket) {
        // After the source's end the converter hears so and gives out its remainder.
        if (_draining) {
            count = 0;
            return;
        }
        ZVPopped popped = _worker.take(source());
        _draining = popped.ended;
        const bool woken = !popped.object && !popped.ended;
        _currentPacket = std::dynamic_pointer_cast<ZVSoundPacket>(std::move(popped.object));
        _currentPacketOffset = 0;
        if (woken && (_worker.stopRequested() || _worker.isPaused())) {
            count = 0;
            return;
        }
    }
    const int32_t frameBytes = _sourceFormat.bytesPerFrame();
    const int64_t left =
        frameBytes > 0 ? (_currentPacket->dataSize() - _currentPacketOffset) / frameBytes : 0;
    if (count > left) count = static_cast<uint32_t>(left);
    *data = _currentPacket->baseAddres() + _currentPacketOffset;
    _currentPacketOffset += static_cast<int32_t>(count) * frameBytes;
    if (frameBytes <= 0) _currentPacketOffset = static_cast<int32_t>(_currentPacket->dataSize());
    ZVValue info = ZVValue::dict();
    info.set(kNumFramesKey, static_cast<int64_t>(count));
    post(ZVSoundEncoderWillEncodeFrames, std::move(info));
}
