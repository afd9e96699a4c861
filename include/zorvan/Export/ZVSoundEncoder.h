#pragma once
// The sound encoder: the export stage that turns PCM sound packets (normally from a WAV
// reader) into the preset's sound format, in blocks of about five seconds, for a sound
// track of the movie writer. Its worker asks the audio converter to fill one block at a
// time; the converter pulls PCM through getPackets, which hands it the packets' own bytes
// without copying.
//
// Notifications (object: the stage): "ZVSoundEncoderWillEncodeFrames" {"NumFrames"} on the
// worker each time input is handed to the converter (reaching the delegate coalesced);
// ZVSoundEncoderDidStopNotification as the worker's last act.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string_view>

#include "Audio/ZVSoundFormat.h"
#include "Media/ZVAudioBuffers.h"
#include "Media/ZVEncodingPreset.h"
#include "Pipeline/ZVWorkerStage.h"
#include "Platform/ZVPlatformDefaults.h"

class ZVAudioConverter;
class ZVSoundPacket;

class ZVSoundEncoder;

// The stage's notifications; each value is its own name (hosts match on the text).
// No "Notification" suffix on this one.
inline constexpr std::string_view ZVSoundEncoderWillEncodeFrames = "ZVSoundEncoderWillEncodeFrames";
inline constexpr std::string_view ZVSoundEncoderDidStopNotification =
    "ZVSoundEncoderDidStopNotification";
inline constexpr std::string_view ZVSoundEncoderWillStopNotification =
    "ZVSoundEncoderWillStopNotification";                         // never posted
inline constexpr std::string_view kZVNumFramesKey = "NumFrames";  // userInfo key

// What the stage tells its delegate, on the main thread; every call does nothing by default.
class ZVSoundEncoderDelegateInfromalProtocol {
  public:
    virtual ~ZVSoundEncoderDelegateInfromalProtocol() = default;
    virtual void ZVSoundEncoderDidStop(ZVSoundEncoder*) {}
    virtual void ZVSoundEncoderWillEncodeFrames(ZVSoundEncoder*, int32_t /*frames*/) {}
};

class ZVSoundEncoder : public ZVWorkerStage<ZVSoundEncoderDelegateInfromalProtocol> {
  public:
    static constexpr std::string_view kNumFramesKey = "NumFrames";

    // An encoder from `sourceFormat` to the preset's sound settings; nullptr when no
    // converter can be made between the two by the services' media toolkit. Any thread.
    static std::shared_ptr<ZVSoundEncoder> initWithPreset(
        const ZVEncodingPreset& preset, ZVSoundFormat sourceFormat,
        const ZVPlatformServices& services = ZVPlatformDefaults());
    // The linear-PCM stream description of `format`. Any thread.
    static ZVAudioStreamDescription LPCMASBDForFormat(ZVSoundFormat format);

    // A new description of the output for the movie's sound track; the caller owns it.
    // Any thread.
    std::unique_ptr<ZVSoundDescription> getSoundDescription() const;

    // The converter's input: up to `count` frames of the current packet, pointed at by
    // `*data`; `count` becomes the frames given (0 when the source has ended, or a stop or
    // pause came while it waited for the next packet). Worker only.
    void getPackets(const uint8_t** data, uint32_t& count);

    // Packets per output block and the block's size in bytes. Any thread.
    uint32_t packetsPerBlock() const;
    uint32_t blockSize() const;

    // As every stage; no notification on start, stop or pause. At the end of its source
    // (or after finalize) it encodes what the source still holds, the converter's
    // remainder too, then stops. Any thread.
    void start();

  private:
    ZVSoundEncoder() = default;
    void soundEncoder();
    // One fill of one block; how the pass went. Worker only.
    ZVStep encodeBlock(uint32_t packets, uint32_t bytes);

    std::shared_ptr<ZVAudioConverter> _converter;
    ZVAudioStreamDescription _destinationASBD;
    bool _formatRequiresPacketDescriptions = false;
    uint32_t _channelLayoutTag = 0;
    ZVSoundFormat _sourceFormat;
    // Worker only: the packet being consumed and how many of its bytes went out, and
    // whether the source ended (the converter then gives out its remainder).
    std::shared_ptr<ZVSoundPacket> _currentPacket;
    int32_t _currentPacketOffset = 0;
    bool _draining = false;
};
