// zorvan info: what a capture file or a recording package holds.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "Audio/ZVWavHeader.h"
#include "Session/ZVMicrophoneTrack.h"
#include "Storage/ZVFomixFileReader.h"
#include "ZVCommand.h"
#include "Zorvan.h"

namespace {
const char* kName = "info";

const char* signatureName(int32_t signature) {
    switch (signature) {
        case kZVFomixSignature:
            return "current layout, this machine's byte order";
        case kZVFomixEarlierSignature:
            return "earlier layout, this machine's byte order";
        case kZVFomixSwappedSignature:
            return "current layout, other byte order";
        case kZVFomixSwappedEarlierSignature:
            return "earlier layout, other byte order";
        default:
            return "not accepted";
    }
}

// What `zorvan repair` would do with a capture file info found broken, so both name the
// same damage.
int failCapture(const std::string& path, const std::string& what) {
    const ZVFomixRepairResult fix = ZVFomixRepair(path, true);
    std::string hint;
    if (fix.outcome == ZVFomixRepairResult::Outcome::Repaired)
        hint = "; 'zorvan repair' can mend it: " + fix.message.substr(path.size() + 2);
    return ZVCommandFail(kName, what + hint);
}

// Reads every record and prints what they hold; 0 when the file reads to its end.
int describeCapture(const std::string& path) {
    ZVFomixFileReader reader;
    if (!reader.openFile(path)) return ZVCommandFail(kName, path + ": " + std::strerror(errno));
    std::printf("capture file: %s (%llu bytes)\n", path.c_str(),
                static_cast<unsigned long long>(reader.size()));
    if (!reader.readHeader()) {
        const bool unfinished = reader.header().signature == 0 && reader.size() >= 28;
        return failCapture(path, path + ": Unsupported FOMIX format" +
                                     (unfinished ? " (its writer never finished)" : ""));
    }
    const ZVFomixFileInfo& h = reader.header();
    std::printf("signature: 0x%08X (%s)\n", static_cast<uint32_t>(h.signature),
                signatureName(h.signature));
    std::printf("duration: %.3f s\nframes: %u\nsize: %s\n", h.duration, h.frames,
                ZVStringFromSize(h.initialDimensions).c_str());
    uint32_t width = 0, height = 0;
    if (!reader.canvasSize(width, height)) {
        if (h.frames == 0) return 0;
        return failCapture(path, path + ": a picture of size " +
                                     ZVStringFromSize(h.initialDimensions) + " cannot be read");
    }
    std::vector<uint8_t> pixels;
    const ZVFomixCanvas canvas = ZVFomixMakeCanvas(width, height, pixels);

    uint32_t records = 0, compressed = 0, withKeys = 0, unchanged = 0;
    uint64_t blocks = 0, blockBytes = 0, stored = 0;
    double first = 0, last = 0;
    ZVFomixRecord record;
    ZVFomixStep step;
    while ((step = reader.readFrame(record, canvas, false)) == ZVFomixStep::Frame) {
        const ZVFrameInfo& i = record.info;
        if (records == 0) first = i.timestamp;
        last = i.timestamp;
        ++records;
        compressed += (i.frameFlags & kZVFrameCompress) != 0;
        withKeys += (i.frameFlags & kZVFrameHasKeyStrokes) != 0;
        unchanged += i.blocks == 0;
        blocks += i.blocks;
        blockBytes += i.dataSize;
        stored += record.endOffset - record.startOffset;
    }
    std::printf("records: %u (%u compressed, %u with key strokes, %u unchanged)\n", records,
                compressed, withKeys, unchanged);
    if (records) {
        std::printf("timestamps: %.3f s to %.3f s\n", first, last);
        std::printf("per record: %.1f blocks, %.0f bytes of block data, %.0f bytes stored\n",
                    double(blocks) / records, double(blockBytes) / records,
                    double(stored) / records);
    }
    if (step != ZVFomixStep::End || reader.position() != reader.size()) {
        const char* why = step == ZVFomixStep::ShortPayload ? "the file ends inside it"
                          : step == ZVFomixStep::End        ? "the file ends inside it"
                                                            : reader.problem().c_str();
        return failCapture(
            path, ZVFormat("%s: record %u cannot be read: %s", path.c_str(), records + 1, why));
    }
    if (records != h.frames)
        return failCapture(path, ZVFormat("%s: the header counts %u frames, the file holds %u",
                                          path.c_str(), h.frames, records));
    return 0;
}

// A WAV track's format and duration, from the sizes its writer patched into the header;
// false when the header does not count the samples that are there.
bool describeWav(const char* label, const std::string& path) {
    std::string error;
    auto d = ZVWavHeader::describeFile(path, &error);
    if (!d) {
        std::printf("\n%s: %s\n", label, error.c_str());
        return false;
    }
    const char* kind = d->format.flags & kZVSoundFormatFloat ? "float" : "integer";
    std::printf("\n%s: %s\n  %d channels, %d-bit %s, %g Hz\n  %u frames, %.3f s%s\n", label,
                path.c_str(), d->format.numberOfChannels, d->format.bitsPerChannel, kind,
                double(d->format.sampleRate), d->frames, d->duration,
                d->sizesPatched ? "" : " (the header was never finished: 'frames' counts none)");
    // A recording cut short leaves a header up to a second behind its samples; repair
    // judges it by the same count.
    const uint64_t frameBytes =
        uint64_t(d->format.bitsPerChannel) * uint64_t(d->format.numberOfChannels) / 8;
    struct stat st;
    const int64_t dataOffset = ZVWavHeader::layoutFor(d->format).dataOffset;
    if (d->sizesPatched && frameBytes && stat(path.c_str(), &st) == 0 && st.st_size > dataOffset) {
        const uint64_t held = (uint64_t(st.st_size) - uint64_t(dataOffset)) / frameBytes;
        if (held > d->frames) {
            std::printf("  (the header counts %u frames, the file holds %llu)\n", d->frames,
                        static_cast<unsigned long long>(held));
            return false;
        }
    }
    return d->sizesPatched;
}

// What the sound server lost while the track was recorded, as the recorder noted it (a
// package recorded before losses were noted says nothing).
void describeLosses(ZVFomixXManager& recording, ZVFomixXResource resource) {
    auto props = recording.propertiesForResource(resource);
    const ZVValue* count =
        props ? props->get(std::string(ZVMicrophoneTrack::kLostSoundCountKey)) : nullptr;
    const ZVValue* seconds =
        props ? props->get(std::string(ZVMicrophoneTrack::kLostSoundSecondsKey)) : nullptr;
    if (!count || !seconds) return;
    const int64_t n = count->intValue();
    if (n <= 0)
        std::printf("  no sound lost\n");
    else
        std::printf("  the sound server lost %.3f s of sound in %lld place%s (kept as silence)\n",
                    seconds->doubleValue(), static_cast<long long>(n), n == 1 ? "" : "s");
}

int run(const std::vector<std::string>& args) {
    if (args.size() != 1) return ZVCommandFail(kName, "expects one PATH (see --help)");
    const std::string& path = args[0];
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return ZVCommandFail(kName, path + ": " + std::strerror(errno));
    auto recording = ZVFomixXManager::initWithFile(path);
    if (!recording->isPackage()) return describeCapture(path);
    if (!recording->infoError().empty())
        return ZVCommandFail(kName, recording->infoError() + " ('zorvan repair " + path +
                                        "' lists its tracks anew)");
    // Any directory reads as a package of the earlier layout; one is only when it holds a
    // track file.
    bool anyTrack = false;
    for (auto kind : {ZVFomixXResourceVideo, ZVFomixXResourceAudio, ZVFomixXResourceSystemAudio,
                      ZVFomixXResourceCursors}) {
        auto file = recording->pathForResource(kind);
        anyTrack = anyTrack || (file && stat(file->c_str(), &st) == 0);
    }
    if (!anyTrack)
        return ZVCommandFail(kName, path +
                                        ": not a recording package (no Info.plist "
                                        "and no track files)");
    std::fputs(ZVDescribeFomixX(*recording).c_str(), stdout);
    bool wavsFine = true;
    for (auto [resource, label] : {std::pair{ZVFomixXResourceAudio, "Audio"},
                                   std::pair{ZVFomixXResourceSystemAudio, "System audio"}}) {
        if (auto wav = recording->pathForResource(resource); wav && stat(wav->c_str(), &st) == 0) {
            wavsFine = describeWav(label, *wav) && wavsFine;
            describeLosses(*recording, resource);
        }
    }
    int status = 0;
    if (auto video = recording->pathForResource(ZVFomixXResourceVideo)) {
        std::printf("\n");
        if (stat(video->c_str(), &st) == 0) status = describeCapture(*video);
    }
    if (!wavsFine && status == 0)
        return ZVCommandFail(kName, "a WAV track cannot be read in full ('zorvan repair " + path +
                                        "' mends its header)");
    return status;
}

const ZVCommand::Registration reg(
    {kName, "describe a capture file or a recording package",
     "usage: zorvan info PATH\n\n"
     "PATH is a capture file (.fomix) or a recording package (.fomixx).\n"
     "For a capture file: its header (signature and byte order, duration, frames, picture\n"
     "size) and a summary of its frame records, read to the end. For a package: its\n"
     "tracks, files and properties, each WAV track's format and duration, then its\n"
     "capture file as above.\n"
     "Exits with 1 when something cannot be read (and says what 'zorvan repair' would\n"
     "mend), or when PATH is a directory that is no recording package.\n",
     run});
}  // namespace
