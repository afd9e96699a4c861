// zorvan info: what a capture file or a recording package holds.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "Audio/ZVWavHeader.h"
#include "Session/ZVCaptureFileSummary.h"
#include "Session/ZVMicrophoneTrack.h"
#include "Session/ZVRecordingRepair.h"
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

// Reads every record and prints what they hold; whether the file is whole is the
// verdict's to say.
void describeCapture(const std::string& path) {
    const auto s = ZVCaptureFileSummary::ofFile(path);
    if (!s) return;
    std::printf("capture file: %s (%llu bytes)\n", path.c_str(),
                static_cast<unsigned long long>(s->fileSize));
    const ZVFomixFileInfo& h = s->header;
    std::printf("signature: 0x%08X (%s%s)\n", static_cast<uint32_t>(h.signature),
                signatureName(h.signature), s->unfinished ? ": its writer never finished" : "");
    if (!s->accepted) return;
    std::printf("duration: %.3f s\nframes: %u\nsize: %s\n", h.duration, h.frames,
                ZVStringFromSize(h.initialDimensions).c_str());
    if (!s->canvasAccepted) return;
    std::printf("records: %u (%u compressed, %u with key strokes, %u unchanged)\n", s->records,
                s->compressed, s->withKeyStrokes, s->unchanged);
    if (const double n = s->records) {
        std::printf("timestamps: %.3f s to %.3f s\n", s->firstTimestamp, s->lastTimestamp);
        std::printf("per record: %.1f blocks, %.0f bytes of block data, %.0f bytes stored\n",
                    double(s->blocks) / n, double(s->blockBytes) / n, double(s->storedBytes) / n);
    }
}

// A WAV track's format and duration, from the sizes its writer patched into the header.
void describeWav(const char* label, const std::string& path) {
    std::string error;
    auto d = ZVWavHeader::describeFile(path, &error);
    if (!d) {
        std::printf("\n%s: %s: %s\n", label, path.c_str(), error.c_str());
        return;
    }
    const char* kind = d->format.flags & kZVSoundFormatFloat ? "float" : "integer";
    std::printf("\n%s: %s\n  %d channels, %d-bit %s, %g Hz\n  %u frames, %.3f s\n", label,
                path.c_str(), d->format.numberOfChannels, d->format.bitsPerChannel, kind,
                double(d->format.sampleRate), d->frames, d->duration);
}

// What `zorvan repair` judges of each file, in its words: what is fine on standard
// output, what is to be mended or cannot be on standard error. 1 when anything is.
int judge(const std::string& path) {
    const auto verdicts = ZVRepairRecording(path, true);
    using State = ZVFileVerdict::State;
    bool mendable = false, broken = false;
    std::printf("\nstate of each file, as 'zorvan repair' judges it:\n");
    for (const auto& v : verdicts) {
        const bool fine = v.state == State::Fine || v.state == State::Notice;
        if (fine)
            std::printf("  %s\n", v.words.c_str());
        else
            std::fprintf(stderr, "zorvan info: %s\n", v.words.c_str());
        mendable = mendable || v.state == State::Mendable;
        broken = broken || !fine;
    }
    if (mendable)
        std::fprintf(stderr, "zorvan info: 'zorvan repair %s' does what is said above\n",
                     path.c_str());
    return broken ? 1 : 0;
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
    if (!recording->isPackage()) {
        describeCapture(path);
        return judge(path);
    }
    std::fputs(ZVDescribeFomixX(*recording).c_str(), stdout);
    for (auto [resource, label] : {std::pair{ZVFomixXResourceAudio, "Audio"},
                                   std::pair{ZVFomixXResourceSystemAudio, "System audio"}}) {
        if (auto wav = recording->pathForResource(resource); wav && stat(wav->c_str(), &st) == 0) {
            describeWav(label, *wav);
            describeLosses(*recording, resource);
        }
    }
    if (auto video = recording->pathForResource(ZVFomixXResourceVideo);
        video && stat(video->c_str(), &st) == 0) {
        std::printf("\n");
        describeCapture(*video);
    }
    return judge(path);
}

const ZVCommand::Registration reg(
    {kName, "describe a capture file or a recording package",
     "usage: zorvan info PATH\n\n"
     "PATH is a capture file (.fomix) or a recording package (.fomixx).\n"
     "For a capture file: its header (signature and byte order, duration, frames, picture\n"
     "size) and a summary of its frame records, read to the end. For a package: its\n"
     "tracks, files and properties, each WAV track's format and duration, then its\n"
     "capture file as above.\n"
     "Then the state of each file, in the words 'zorvan repair --dry-run' uses. Exits\n"
     "with 1 when a file is to be mended or cannot be, or when PATH is a directory that\n"
     "is no recording package.\n",
     run});
}  // namespace
