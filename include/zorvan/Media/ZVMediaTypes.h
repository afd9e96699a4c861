#pragma once
// Codec type codes, status codes and the small records that the media interfaces share.
// Codec types are four-character codes as movie files name them.
#include <cstdint>
#include <optional>
#include <string>

constexpr uint32_t ZVFourCC(const char (&s)[5]) {
    return (static_cast<uint32_t>(static_cast<uint8_t>(s[0])) << 24) |
           (static_cast<uint32_t>(static_cast<uint8_t>(s[1])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(s[2])) << 8) |
           static_cast<uint32_t>(static_cast<uint8_t>(s[3]));
}
// "avc1"; bytes outside printable ASCII show as '?'. Any thread.
std::string ZVStringFromFourCC(uint32_t code);

// Video codecs.
inline constexpr uint32_t kZVVideoCodecType_H264 = ZVFourCC("avc1");
inline constexpr uint32_t kZVVideoCodecType_HEVC = ZVFourCC("hvc1");
inline constexpr uint32_t kZVVideoCodecType_ProRes422 = ZVFourCC("apcn");
inline constexpr uint32_t kZVVideoCodecType_Animation = ZVFourCC("rle ");
inline constexpr uint32_t kZVVideoCodecType_PNG = ZVFourCC("png ");
inline constexpr uint32_t kZVVideoCodecType_MotionJPEG = ZVFourCC("mjpa");
inline constexpr uint32_t kZVVideoCodecType_VP9 = ZVFourCC("vp09");
inline constexpr uint32_t kZVVideoCodecType_GIF = ZVFourCC("gif ");

// Sound formats (the format id of a stream description).
inline constexpr uint32_t kZVAudioFormat_LinearPCM = ZVFourCC("lpcm");
inline constexpr uint32_t kZVAudioFormat_AAC = ZVFourCC("aac ");
inline constexpr uint32_t kZVAudioFormat_AppleLossless = ZVFourCC("alac");
inline constexpr uint32_t kZVAudioFormat_Opus = ZVFourCC("opus");

// The kinds of movie file, each named by its file name's extension.
enum class ZVMovieContainer { QuickTime, MP4, WebM, GIF };
// The container that `path`'s extension names (".mov", ".mp4", ".webm", ".gif", in any
// case); nullopt for any other. Any thread.
std::optional<ZVMovieContainer> ZVMovieContainerForPath(const std::string& path);
// Whether a movie of `container` can hold the video codec or sound format `code`. An MP4
// holds neither ProRes, Animation nor linear PCM; WebM and GIF exports are given codecs of
// their own. Any thread.
bool ZVMovieContainerHolds(ZVMovieContainer container, uint32_t code);
// The known extensions, for messages: ".mov, .mp4, .webm or .gif".
inline constexpr const char* kZVMovieExtensions = ".mov, .mp4, .webm or .gif";

// Flags of a stream description (linear PCM).
inline constexpr uint32_t kZVAudioFormatFlagIsFloat = 0x1;
inline constexpr uint32_t kZVAudioFormatFlagIsBigEndian = 0x2;
inline constexpr uint32_t kZVAudioFormatFlagIsSignedInteger = 0x4;
inline constexpr uint32_t kZVAudioFormatFlagIsPacked = 0x8;
inline constexpr uint32_t kZVAudioFormatFlagIsNonInterleaved = 0x20;

// Status codes (0 is success).
inline constexpr long kZVMediaNoErr = 0;
inline constexpr long kZVMediaErrParam = -50;            // a value out of range
inline constexpr long kZVMediaErrUnsupported = -8961;    // codec or property unknown
inline constexpr long kZVMediaErrBadSettings = -8962;    // settings bytes refused
inline constexpr long kZVMediaErrEncoder = -8963;        // the codec library failed
inline constexpr long kZVMediaErrNoToolkit = -8964;      // no implementation installed
inline constexpr long kZVMediaErrSessionFailed = -8965;  // an earlier failure ended it

// Settings dialog results.
inline constexpr long kZVDialogOK = 0;
inline constexpr long kZVDialogCancel = 1;

// 16.16 fixed point, as frame rates are kept.
constexpr double ZVFixedToDouble(int32_t f) {
    return static_cast<double>(f) / 65536.0;
}
int32_t ZVDoubleToFixed(double d);  // rounded, clamped to the int32 range. Any thread.

// An audio stream description: 40 bytes, laid out as movie files keep it.
struct ZVAudioStreamDescription {
    double sampleRate = 0;
    uint32_t formatID = 0;
    uint32_t formatFlags = 0;
    uint32_t bytesPerPacket = 0;
    uint32_t framesPerPacket = 0;
    uint32_t bytesPerFrame = 0;
    uint32_t channelsPerFrame = 0;
    uint32_t bitsPerChannel = 0;
    uint32_t reserved = 0;
    bool operator==(const ZVAudioStreamDescription&) const = default;
};
static_assert(sizeof(ZVAudioStreamDescription) == 40);

// Channel layout tags: the channel count in the low 16 bits.
inline constexpr uint32_t kZVChannelLayoutTag_Mono = (100u << 16) | 1;
inline constexpr uint32_t kZVChannelLayoutTag_Stereo = (101u << 16) | 2;

// A dialog whose input ended before the user accepted or left.
inline constexpr long kZVDialogErrInputEnded = -39;
