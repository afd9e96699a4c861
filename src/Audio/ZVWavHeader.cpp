#include "Audio/ZVWavHeader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace {
void append(std::vector<uint8_t>& out, const void* bytes, size_t length) {
    auto* p = static_cast<const uint8_t*>(bytes);
    out.insert(out.end(), p, p + length);
}

// The rate truncated toward zero, as the u32 field takes it (22050.7 is 22050); rates
// beyond the field's range keep the field's wrap instead of being undefined.
uint32_t truncatedRate(float rate) {
    if (!(rate > 0)) return 0;
    double r = std::trunc(static_cast<double>(rate));
    return r >= 4294967296.0 ? static_cast<uint32_t>(std::fmod(r, 4294967296.0))
                             : static_cast<uint32_t>(r);
}
}  // namespace

ZVWavLayout ZVWavHeader::layoutFor(ZVSoundFormat format) {
    if (format.flags & kZVSoundFormatFloat) return {3, 58, true};
    if (format.flags & kZVSoundFormatSignedInteger) return {1, 92, false};
    return {0, 80, false};
}

ZVWavHeaderRecords ZVWavHeader::records(ZVSoundFormat format, uint32_t frames) {
    const ZVWavLayout layout = layoutFor(format);
    const uint32_t B = static_cast<uint32_t>(format.bitsPerChannel / 8);
    const uint32_t C = static_cast<uint32_t>(format.numberOfChannels);
    const uint32_t R = truncatedRate(format.sampleRate);
    const uint32_t D = C * B * frames;

    ZVWavHeaderRecords r;
    r.head.ChunkID = kZVWavRIFF;
    r.head.ChunkSize = (layout.hasFact ? 50u : 36u) + D;
    r.head.Format = kZVWavWAVE;
    r.chFormat.Subchunk1ID = kZVWavFmt;
    r.chFormat.Subchunk1Size = layout.hasFact ? 18 : 16;
    r.chFormat.AudioFormat = layout.audioFormat;
    r.chFormat.NumChannels = static_cast<uint16_t>(C);
    r.chFormat.SampleRate = R;
    r.chFormat.ByteRate = B * R * C;
    r.chFormat.BlockAlign = static_cast<uint16_t>(C * B);
    r.chFormat.BitsPerSample = static_cast<uint16_t>(B * 8);
    r.chFormat.cbSize = 0;
    if (layout.hasFact) {
        r.chFact.ckID = kZVWavFact;
        r.chFact.cksize = 4;
        r.chFact.dwSampleLength = frames * C;  // samples of all channels
    }
    r.chData.Subchunk2ID = kZVWavData;
    r.chData.Subchunk2Size = D;
    return r;
}

std::vector<uint8_t> ZVWavHeader::bytes(const ZVWavHeaderRecords& r, ZVWavLayout layout) {
    std::vector<uint8_t> out;
    out.reserve(58);
    append(out, &r.head, sizeof r.head);
    // Subchunk1Size is 16 or 18, so this never reaches past the 48-byte record.
    append(out, &r.chFormat, r.chFormat.Subchunk1Size + 8);
    if (layout.hasFact) append(out, &r.chFact, sizeof r.chFact);
    append(out, &r.chData, sizeof r.chData);
    return out;
}

namespace {
// Chunks are looked for in the first 64 KB: a header larger than that is no header.
constexpr off_t kHeaderSearchLimit = 64 * 1024;

bool readAt(int fd, void* into, size_t length, off_t offset) {
    ssize_t n = ::pread(fd, into, length, offset);
    return n == static_cast<ssize_t>(length);
}

std::nullopt_t fail(std::string* error, std::string why) {
    if (error) *error = std::move(why);
    return std::nullopt;
}
}  // namespace

std::optional<ZVWavDescription> ZVWavHeader::describeFile(const std::string& path,
                                                          std::string* error) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail(error, strerror(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return fail(error, "not a regular file");

    ZVWavRiffHeader head{};
    if (!readAt(fd, &head, sizeof head, 0) || head.ChunkID != kZVWavRIFF ||
        head.Format != kZVWavWAVE)
        return fail(error, "not a WAV file (no RIFF/WAVE header)");

    ZVWavFormatChunk fmt{};
    bool haveFormat = false;
    std::optional<uint32_t> dataSize;
    off_t dataStart = 0;
    for (off_t at = sizeof head; at + 8 <= std::min<off_t>(st.st_size, kHeaderSearchLimit);) {
        uint32_t chunk[2];
        if (!readAt(fd, chunk, sizeof chunk, at)) break;
        if (chunk[0] == kZVWavFmt) {
            size_t length = std::min<size_t>(chunk[1], sizeof fmt - 8);
            haveFormat =
                length >= 16 && readAt(fd, reinterpret_cast<uint8_t*>(&fmt) + 8, length, at + 8);
        } else if (chunk[0] == kZVWavData) {
            dataSize = chunk[1];
            dataStart = at + 8;
            break;
        }
        // Chunks are padded to an even length.
        at += 8 + off_t(chunk[1]) + off_t(chunk[1] & 1);
    }
    if (!haveFormat) return fail(error, "no format chunk");
    if (!dataSize) return fail(error, "no data chunk");

    ZVWavDescription d;
    d.audioFormat = fmt.AudioFormat;
    d.format.numberOfChannels = fmt.NumChannels;
    d.format.bitsPerChannel = fmt.BitsPerSample;
    d.format.sampleRate = static_cast<float>(fmt.SampleRate);
    d.format.flags = fmt.AudioFormat == 3   ? kZVSoundFormatFloat
                     : fmt.AudioFormat == 1 ? kZVSoundFormatSignedInteger
                                            : 0;
    d.dataSize = *dataSize;
    const int32_t frameSize = d.format.bytesPerFrame();
    d.frames = frameSize > 0 ? d.dataSize / static_cast<uint32_t>(frameSize) : 0;
    d.duration = fmt.SampleRate ? double(d.frames) / double(fmt.SampleRate) : 0;
    d.sizesPatched = !(d.dataSize == 0 && st.st_size > dataStart);
    return d;
}
