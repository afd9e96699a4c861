#include "Session/ZVExportSession.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "Audio/ZVWavHeader.h"
#include "Audio/ZVWavIO.h"
#include "Export/ZVCursorPath.h"
#include "Export/ZVICM.h"
#include "Export/ZVMovie.h"
#include "Export/ZVSoundEncoder.h"
#include "Export/ZVZoomPlanFile.h"
#include "Foundation/ZVException.h"
#include "Foundation/ZVLog.h"
#include "Foundation/ZVNotificationCenter.h"
#include "Foundation/ZVRunLoop.h"
#include "Media/ZVCodecSettings.h"
#include "Media/ZVMovieMuxer.h"
#include "Pipeline/ZVQueue.h"
#include "Session/ZVInputPass.h"
#include "Session/ZVScreenTrack.h"
#include "Storage/ZVCursorListFile.h"
#include "Storage/ZVFomixIO.h"
#include "Storage/ZVFomixRepair.h"
#include "Storage/ZVFomixXManager.h"
#include "Video/ZVPixelBufferPool.h"

namespace {
// The package's measured device rate of a sound track, frames per second.
constexpr std::string_view kMeasuredSampleRateKey = "MeasuredSampleRate";

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The export's queues hold a few items each, whatever the recording's length and however
// much memory is free: reading runs ahead of the encoder by a few frames at most, and the
// sound, read much faster than it is encoded, waits in the WAV file rather than in memory.
constexpr int64_t kFramesAhead = 2;            // raw frames between reader and compressor
constexpr int64_t kEncodedFramesAhead = 2;     // a raw frame's bytes of encoded frames
constexpr int64_t kSoundBytesAhead = 1 << 20;  // about 6 s of 16-bit stereo at 44.1 kHz

// A GIF's frames a second when the preset gives none: enough for a screen, and a GIF
// file grows with every frame.
constexpr double kGIFFrameRate = 15;

// The preset as `container` can hold it: WebM takes VP9 and Opus (at 48 kHz, Opus's own
// rate), a GIF pictures alone; QuickTime and MP4 take the preset as it is.
std::shared_ptr<const ZVEncodingPreset> fitToContainer(const ZVEncodingPreset& given,
                                                       ZVMovieContainer container) {
    auto preset = std::make_shared<ZVEncodingPreset>(given);
    if (container != ZVMovieContainer::WebM && container != ZVMovieContainer::GIF) return preset;
    ZVCodecSettings video(ZVCodecSettingsKind::video);
    if (auto handle = given.videoSettings()) video.load(*handle);
    if (container == ZVMovieContainer::GIF) {
        video.setCodecType(kZVVideoCodecType_GIF);
        if (video.frameRate() <= 0) video.setFrameRate(ZVDoubleToFixed(kGIFFrameRate));
        preset->setIncludesAudioTrack(false);
    } else {
        video.setCodecType(kZVVideoCodecType_VP9);
        ZVCodecSettings sound(ZVCodecSettingsKind::sound);
        if (auto handle = given.soundSettings()) sound.load(*handle);
        ZVAudioStreamDescription d = sound.outputDescription();
        d.sampleRate = 48000;
        sound.setOutputDescription(d);
        sound.setSoundFormat(kZVAudioFormat_Opus);
        preset->setSoundSettings(sound.save());
    }
    preset->setVideoSettings(video.save());
    return preset;
}

// The camera's settings in `preset`.
ZVZoomOptions zoomOptionsOf(const ZVEncodingPreset& preset) {
    ZVZoomOptions options;
    options.level = preset.zoomLevel();
    options.hold = preset.zoomHold();
    return options;
}

// The preset's video codec, or its sound format.
uint32_t codecOf(const ZVEncodingPreset& preset, ZVCodecSettingsKind kind) {
    ZVCodecSettings settings(kind);
    const bool video = kind == ZVCodecSettingsKind::video;
    if (auto handle = video ? preset.videoSettings() : preset.soundSettings())
        settings.load(*handle);
    return video ? settings.codecType() : settings.outputDescription().formatID;
}
}  // namespace

struct ZVExportSession::SoundTrack {
    bool system = false;
    double offset = 0;  // the recorder's start offset
    std::shared_ptr<ZVWavIO> reader;
    std::shared_ptr<ZVQueue> pcm;
    double length = 0;  // seconds on the screen's clock
    std::shared_ptr<ZVSoundEncoder> encoder;
    std::shared_ptr<ZVQueue> encoded;
};

// What the reading of the records made, handed from its thread to the main thread.
struct ZVExportSession::Reading {
    std::shared_ptr<const ZVZoomPlan> plan;
    std::shared_ptr<const ZVCursorPath> cursorPath;
    std::optional<ZVMovieText> text;
};

ZVExportSession::ZVExportSession() : _pass(std::make_unique<ZVInputPass>()) {}

std::shared_ptr<ZVExportSession> ZVExportSession::create(const std::string& path,
                                                         const ZVEncodingPreset& preset,
                                                         std::string* error,
                                                         const ZVPlatformServices& services) {
    auto fail = [&](std::string why) -> std::shared_ptr<ZVExportSession> {
        if (error) *error = std::move(why);
        return nullptr;
    };
    auto s = std::shared_ptr<ZVExportSession>(new ZVExportSession());
    s->_services = services;
    s->_preset = std::make_shared<const ZVEncodingPreset>(preset);
    s->_recordingPath = path;
    s->_package = ZVFomixXManager::initWithFile(path);
    if (!s->_package->exists()) return fail(path + ": no such recording");
    auto capture = s->_package->pathForResource(ZVFomixXResourceVideo);
    if (!capture && !s->_package->infoError().empty())
        return fail(s->_package->infoError() + " ('zorvan repair " + path +
                    "' lists its tracks anew)");
    if (!capture || ::access(capture->c_str(), R_OK) != 0)
        return fail(path + ": the recording has no screen track");
    s->_capturePath = *capture;
    ZVFomixFileInfo info;
    try {
        info = ZVFomixIO::infoForFile(*capture);
    } catch (const ZVException&) {
        // No header: its writer never finished.
        if (std::string why = s->takeUnclosedCapture(info); !why.empty()) return fail(why);
    }
    if (info.signature != kZVFomixSignature || info.initialDimensions.width < 1 ||
        info.initialDimensions.height < 1)
        return fail(*capture + ": not a capture file that can be read");
    s->_recordedSize = info.initialDimensions;
    s->_framesTotal = info.frames;
    s->_duration = info.duration;
    s->_videoOffset = s->_package->startOffsetTime(ZVFomixXResourceVideo).value_or(0);
    return s;
}

std::string ZVExportSession::setZoom(const std::string& choice) {
    _zoomChosen = true;
    _zoomPlan.reset();
    _zoomAuto = false;
    _zoomSegments.reset();
    if (choice == "off") return {};
    if (choice == "auto") {
        _zoomAuto = true;
        return {};
    }
    // The file is checked against the size and length the capture file's header gives;
    // its records are read once, when the export starts.
    ZVRecordedInput recording(_recordedSize);
    ZVFrameInfo last{};
    last.timestamp = _duration;
    last.keyCode = -1;
    recording.addRecord(last, 0);
    std::string why;
    auto plan = ZVZoomPlanFile::read(choice, recording, zoomOptionsOf(*_preset), &why);
    if (!plan) return why;
    _zoomSegments = plan->segments();
    return {};
}

void ZVExportSession::setZoomPlan(std::shared_ptr<const ZVZoomPlan> plan) {
    _zoomChosen = true;
    _zoomPlan = std::move(plan);
}

std::string ZVExportSession::takeUnclosedCapture(ZVFomixFileInfo& info) {
    // What a repair would keep, without changing anything; a recording still being written
    // is read as far as it goes now.
    const ZVFomixRepairResult whole = ZVFomixRepair(_capturePath, true);
    if (whole.outcome == ZVFomixRepairResult::Outcome::Failed) return whole.message;
    if (whole.outcome != ZVFomixRepairResult::Outcome::Repaired)
        return _capturePath + ": not a capture file that can be read";
    // Records found past damaged bytes are a repair's work: the reader stops at the damage.
    if (whole.salvagedFrames > 0)
        return _capturePath + ": the recording was not closed and " + whole.stopReason +
               "; run zorvan repair first";
    if (whole.header.frames == 0)
        return _capturePath + ": the recording was not closed and holds no whole frame";
    info = whole.header;
    _assumedHeader = info;
    _notice = ZVFormat(
        "the recording was not closed: exporting the %.2f s that are there; run zorvan repair "
        "to keep it",
        double(info.duration));
    return {};
}

ZVExportSession::~ZVExportSession() {
    ZVNotificationCenter::defaultCenter().removeObserver(this);
}

void ZVExportSession::noteFailure(const std::string& why) {
    if (why.empty()) return;
    {
        ZVLockGuard g(_failureLock);
        if (!_failure.empty()) return;
        _failure = why;
    }
    stopAll();
}

void ZVExportSession::watchStop(const void* stage, std::string_view name) {
    ZVNotificationCenter::defaultCenter().addObserver(
        this, name, stage, [this](const ZVNotification& n) {
            if (const ZVValue* e = n.userInfo.get("Error")) noteFailure(e->stringValue());
            if (_stagesLeft.fetch_sub(1) == 1) complete();
        });
}

std::string ZVExportSession::addSoundTrack(int kind, const std::string& wavPath) {
    std::string why;
    auto description = ZVWavHeader::describeFile(wavPath, &why);
    if (!description) return wavPath + ": " + why;
    auto track = std::make_unique<SoundTrack>();
    track->system = kind == ZVFomixXResourceSystemAudio;
    ZVSoundFormat format = description->format;
    // The device's measured rate stretches the sound onto the screen's clock.
    if (auto props = _package->propertiesForResource(static_cast<ZVFomixXResource>(kind)))
        if (const ZVValue* rate = props->get(kMeasuredSampleRateKey))
            if (double r = rate->doubleValue(); r > 1000 && r < 1e6) format.sampleRate = float(r);
    if (format.sampleRate > 0) track->length = description->frames / double(format.sampleRate);
    track->reader = ZVWavIO::wavIOForReading(wavPath);
    track->encoder = ZVSoundEncoder::initWithPreset(*_preset, format, _services);
    if (!track->reader || !track->encoder)
        return wavPath + ": its sound cannot be encoded in the preset's sound format";
    track->pcm = std::make_shared<ZVQueue>(kSoundBytesAhead);
    track->encoded = std::make_shared<ZVQueue>(kSoundBytesAhead);
    track->reader->setDataDestination(track->pcm.get());
    track->encoder->setDataSource(track->pcm.get());
    track->encoder->setDataDestination(track->encoded.get());
    const double offset = track->offset =
        _package->startOffsetTime(static_cast<ZVFomixXResource>(kind)).value_or(0);
    int32_t made;
    if (track->system) {
        made = _movie->createSystemAudioTrackWithAudioDescriptionHandle(
            track->encoder->getSoundDescription());
        _movie->setSystemAudioDataSource(track->encoded.get());
        _movie->setSystemAudioTrackOffset(offset);
    } else {
        made = _movie->createAudioTrackWithAudioDescriptionHandle(
            track->encoder->getSoundDescription());
        _movie->setAudioDataSource(track->encoded.get());
        _movie->setAudioTrackOffset(offset);
    }
    if (made != 0) return wavPath + ": the movie's sound track could not be made";
    _sound.push_back(std::move(track));
    return {};
}

std::string ZVExportSession::prepareMoviePath() {
    _finalPath = _outputPath.empty() ? _package->movieDestination() : _outputPath;
    const auto container = ZVMovieContainerForPath(_finalPath);
    if (!container)
        return _finalPath + ": unknown kind of movie; the name must end in " + kZVMovieExtensions;
    _container = *container;
    struct stat st;
    if (::stat(_finalPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return _finalPath + ": is a directory, not a movie file";
    const std::filesystem::path final(_finalPath);
    std::string folder = final.parent_path().string();
    if (folder.empty()) folder = ".";
    // Hidden, and unique among exports running at once into the same folder.
    std::string temporary = folder + "/." + final.filename().string() + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return ZVFormat("cannot write the movie into %s: %s", folder.c_str(), std::strerror(errno));
    ::close(fd);
    _temporaryPath = temporary;
    return {};
}

std::string ZVExportSession::buildVideo() {
    _reader = ZVFomixIO::initWithFile(_capturePath, ZVFomixIO::kReadMode);
    // The recording's own rate, for presets that give none: one record per display tick,
    // the header's duration being the last record's time.
    const double rate =
        _duration > 0 && _framesTotal > 1 ? std::round(double(_framesTotal - 1) / _duration) : 0;
    _compressor = ZVICM::initWithPreset(*_preset, _recordedSize, _services, std::min(rate, 240.0));
    if (!_reader) return _capturePath + ": the capture file cannot be read";
    if (!_compressor) return "the preset's video settings cannot be used for this recording";
    if (_assumedHeader) _reader->assumeHeader(*_assumedHeader);
    if (!_zoomChosen && _preset->zoomsAutomatically())
        if (std::string why = setZoom("auto"); !why.empty()) return why;
    _compressor->setZoomPlan(_zoomPlan);
    // A cursor the display server drew into the frames is not drawn a second time; the
    // click marks and the key strip still are.
    const auto video = _package->propertiesForResource(ZVFomixXResourceVideo);
    const ZVValue* inFrames = video ? video->get(ZVScreenTrack::kCursorInFramesKey) : nullptr;
    const bool cursorInFrames = inFrames && inFrames->boolValue();
    if (auto cursorsPath = _package->pathForResource(ZVFomixXResourceCursors);
        cursorsPath && !cursorInFrames) {
        std::string why;
        if (auto cursors = ZVCursorListFile::read(*cursorsPath, &why))
            _compressor->setCursors(std::move(*cursors));
        else
            ZVLog("%s", why.c_str());
    }
    const int64_t frameBytes =
        int64_t{ZVPixelBytesPerRow(int32_t(_recordedSize.width))} * int64_t(_recordedSize.height);
    _frames = std::make_shared<ZVQueue>(kFramesAhead * frameBytes);
    _encodedFrames = std::make_shared<ZVQueue>(kEncodedFramesAhead * frameBytes);
    _reader->setDataDestination(_frames.get());
    _compressor->setDataSource(_frames.get());
    _compressor->setDataDestination(_encodedFrames.get());
    if (_movie->createVideoTrackWithInitialSize(_recordedSize) != 0)
        return "the movie's video track could not be made";
    _movie->setVideoDataSource(_encodedFrames.get());
    _movie->setVideoTrackOffset(_videoOffset);
    return {};
}

std::string ZVExportSession::build() {
    if (std::string why = prepareMoviePath(); !why.empty()) return why;
    _preset = fitToContainer(*_preset, _container);
    _withVideo = _preset->includesVideoTrack();
    if (!_withVideo && _container == ZVMovieContainer::GIF)
        return _finalPath + ": a GIF holds pictures, and the preset leaves the video out";
    for (auto kind : {ZVCodecSettingsKind::video, ZVCodecSettingsKind::sound}) {
        const bool video = kind == ZVCodecSettingsKind::video;
        const uint32_t code = codecOf(*_preset, kind);
        if ((video ? _withVideo : _preset->includesAudioTrack()) &&
            !ZVMovieContainerHolds(_container, code))
            return _finalPath + ": an MP4 movie cannot hold '" + ZVStringFromFourCC(code) + "' " +
                   (video ? "video" : "sound") + "; choose another codec or a .mov name";
    }
    _movie = ZVMovie::initWithPreset(*_preset, _services);
    if (_movie->createMovieAtPath(_temporaryPath, _container) != 0)
        return _finalPath + ": the movie file cannot be created";
    if (_withVideo) {
        if (std::string why = buildVideo(); !why.empty()) return why;
    } else {
        _framesTotal = 0;
    }

    if (_preset->includesAudioTrack()) {
        const std::pair<int, bool> kinds[] = {
            {ZVFomixXResourceAudio, _preset->includesExternalAudio()},
            {ZVFomixXResourceSystemAudio, _preset->includesSystemAudio()}};
        for (auto [kind, wanted] : kinds) {
            if (!wanted || !_package->isPackage()) continue;
            auto wav = _package->pathForResource(static_cast<ZVFomixXResource>(kind));
            if (!wav || ::access(wav->c_str(), R_OK) != 0) continue;
            if (std::string why = addSoundTrack(kind, *wav); !why.empty()) return why;
        }
    }
    if (!_withVideo && _sound.empty())
        return "the preset leaves the video out and the recording has no sound to export";
    return {};
}

bool ZVExportSession::wantsMovieText() const {
    return _withVideo && _preset->showsKeysPressed() &&
           (_preset->includesKeyTrack() || _preset->includesChapters()) &&
           _container != ZVMovieContainer::GIF;
}

void ZVExportSession::readRecording() {
    Reading made;
    const bool text = wantsMovieText();
    const auto outcome =
        _pass->read(_capturePath, _assumedHeader ? &*_assumedHeader : nullptr, text);
    // A file that cannot be read leaves all of it out: the reader stage says what is wrong.
    if (outcome == ZVInputPass::Outcome::read) {
        // Made here rather than on the main thread: each walks over every record. The text
        // takes its clicks from the input, so it is made before the input is taken.
        if (text) made.text = _pass->text();
        const ZVRecordedInput input = std::move(_pass->input());
        const ZVZoomOptions options = zoomOptionsOf(*_preset);
        if (_zoomAuto)
            made.plan = std::make_shared<const ZVZoomPlan>(ZVZoomPlan::automatic(input, options));
        else if (_zoomSegments)
            made.plan = std::make_shared<const ZVZoomPlan>(*_zoomSegments, input, options);
        if (_preset->includesCursorTrack() && _preset->cursorSmoothing() > 0)
            made.cursorPath =
                std::make_shared<const ZVCursorPath>(input, _preset->cursorSmoothing());
    }
    ZVRunLoop::main().post([session = shared_from_this(), made = std::move(made)]() mutable {
        session->finishReading(std::move(made));
    });
}

void ZVExportSession::finishReading(Reading made) {
    _reading = false;
    if (failed()) {
        // Cancelled while reading: no stage has run, and the movie begun is removed.
        _movie.reset();
        finish(failure());
        return;
    }
    if (made.plan) {
        _zoomPlan = made.plan;
        _compressor->setZoomPlan(made.plan);
    }
    if (made.cursorPath) _compressor->setCursorPath(made.cursorPath);
    if (made.text) {
        if (!_preset->includesKeyTrack()) made.text->keys.clear();
        if (!_preset->includesChapters()) made.text->chapters.clear();
        // Without them the movie is still whole; ZVMovie logs why.
        _movie->addMovieText(*made.text);
    }
    startStages();
}

void ZVExportSession::abandon(const std::string& why) {
    // Dropping the writer closes its file without an index; nothing of it is kept.
    _movie.reset();
    if (!_temporaryPath.empty()) ::unlink(_temporaryPath.c_str());
    _finished = true;
    _finishError = why;
}

std::string ZVExportSession::start() {
    if (_started) return "the export has already started";
    _started = true;
    if (std::string why = build(); !why.empty()) {
        abandon(why);
        return why;
    }
    const bool smoothed = _preset->includesCursorTrack() && _preset->cursorSmoothing() > 0;
    if (_withVideo && (wantsMovieText() || _zoomAuto || _zoomSegments || smoothed)) {
        // The reading's thread holds the session until it hands over to the main thread.
        _reading = true;
        std::thread([session = shared_from_this()] { session->readRecording(); }).detach();
    } else {
        startStages();
    }
    return {};
}

void ZVExportSession::startStages() {
    // Each stage ends at the end of its source's stream and passes it on; the last
    // stage's did-stop (a movie writer's, unless a failure stopped the readers late)
    // completes the export.
    if (_withVideo) {
        watchStop(_reader.get(), ZVFomixIODidStopNotification);
        watchStop(_compressor.get(), ZVICMDidStopNotification);
        watchStop(_movie.get(), ZVMovieDidStopWritingVideoNotification);
        ZVNotificationCenter::defaultCenter().addObserver(
            this, ZVICMDidEncodeFrameNotification, _compressor.get(),
            [this](const ZVNotification&) { _framesDone.fetch_add(1); });
    } else {
        // Sound alone: placed against the first sound track, not a screen left out.
        double first = _sound[0]->offset;
        for (auto& t : _sound) first = std::min(first, t->offset);
        _movie->setVideoTrackOffset(first);
    }
    for (auto& t : _sound) {
        watchStop(t->reader.get(), ZVWavIODidStopNotification);
        watchStop(t->encoder.get(), ZVSoundEncoderDidStopNotification);
        watchStop(_movie.get(), t->system ? ZVMovieDidStopWritingSystemAudioNotification
                                          : ZVMovieDidStopWritingAudioNotification);
    }
    // A reader that was not running yet when a failure came took no stop: it takes it now.
    if (_reader)
        ZVNotificationCenter::defaultCenter().addObserver(
            this, ZVFomixIODidStartNotification, _reader.get(), [this](const ZVNotification&) {
                if (failed()) _reader->stop();
            });
    for (auto& t : _sound) {
        ZVNotificationCenter::defaultCenter().addObserver(
            this, ZVWavIODidStartNotification, t->reader.get(),
            [this, reader = t->reader.get()](const ZVNotification&) {
                if (failed()) reader->stop();
            });
    }

    _stagesLeft = 3 * int(_sound.size()) + (_withVideo ? 3 : 0);
    _self = shared_from_this();  // let go of in complete()
    _startedAt = now();
    if (_withVideo) _movie->startVideoTrackWriting();
    for (auto& t : _sound) {
        t->system ? _movie->startSystemAudioTrackWriting() : _movie->startAudioTrackWriting();
        t->encoder->start();
        t->reader->start();
    }
    if (_withVideo) {
        _compressor->start();
        _reader->start();
    }
}

bool ZVExportSession::failed() const {
    ZVLockGuard g(_failureLock);
    return !_failure.empty();
}

std::string ZVExportSession::failure() const {
    ZVLockGuard g(_failureLock);
    return _failure;
}

void ZVExportSession::complete() {
    // A stage that failed and still passed the end on (a capture file shorter than its
    // header) has set its reason before the end reached the writers.
    std::vector<ZVStage*> stages = {_reader.get(), _compressor.get(), _movie.get()};
    for (auto& t : _sound) {
        stages.push_back(t->reader.get());
        stages.push_back(t->encoder.get());
    }
    for (ZVStage* stage : stages)
        if (stage) noteFailure(stage->failureReason());
    _movie->closeMovie();
    if (_movie->closeStatus() == kZVMediaErrDiskFull)
        noteFailure("Disk is possibly full");
    else if (_movie->closeStatus() != 0)
        noteFailure(ZVFormat("the movie could not be written (error %ld)", _movie->closeStatus()));
    if (_cancelled.load()) noteFailure("the export was cancelled");
    ZVRunLoop::main().post([session = std::move(_self), why = failure()] { session->finish(why); });
}

void ZVExportSession::stopAll() {
    // Upstream first. Every queue then flushes, which wakes whoever waits on it, and every
    // consumer is finalized as well as stopped: one that was not running yet ends as soon
    // as it runs, its queue being empty. Each writer still closes its track.
    if (_reader) _reader->stop();
    for (auto& t : _sound) t->reader->stop();
    for (ZVQueue* q : {_frames.get(), _encodedFrames.get()})
        if (q) q->setFlushing(true);
    for (auto& t : _sound) {
        t->pcm->setFlushing(true);
        t->encoded->setFlushing(true);
    }
    if (_compressor) {
        _compressor->stop();
        _compressor->finalize();
    }
    for (auto& t : _sound) {
        t->encoder->stop();
        t->encoder->finalize();
    }
    if (_movie) {
        for (ZVMovieInput input :
             {ZVMovieInput::Video, ZVMovieInput::Audio, ZVMovieInput::SystemAudio}) {
            _movie->stopWriting(input);
            _movie->finalizeWriting(input);
        }
    }
}

void ZVExportSession::cancel() {
    _cancelled.store(true);
    // The failure first: a reading that stops finds it when it hands over.
    noteFailure("the export was cancelled");
    _pass->stop();
}

double ZVExportSession::movieLength() const {
    // The movie's time starts with the screen, or with the first sound without one.
    double start = _withVideo ? _videoOffset : HUGE_VAL;
    for (auto& t : _sound) start = std::min(start, t->offset);
    double end = _withVideo && _compressor ? _videoOffset + _compressor->endTime() : start;
    for (auto& t : _sound) end = std::max(end, t->offset + t->length);
    return _sound.empty() && !_withVideo ? 0 : std::max(end - start, 0.0);
}

ZVExportSession::Progress ZVExportSession::progress() const {
    Progress p;
    p.framesTotal = _framesTotal;
    if (_reading.load()) {
        p.reading = true;
        p.framesDone = _pass->recordsRead();
        return p;
    }
    // Frames folded into the picture before them are done as well.
    p.framesDone = _framesDone.load() + (_compressor ? _compressor->skippedFrames() : 0);
    const double started = _startedAt.load();
    const double elapsed = started > 0 ? now() - started : 0;
    if (elapsed > 0 && _framesTotal > 0 && _duration > 0) {
        const double exported = _duration * double(p.framesDone) / double(_framesTotal);
        p.speed = exported / elapsed;
        if (p.speed > 0) p.secondsLeft = (_duration - exported) / p.speed;
    }
    return p;
}

void ZVExportSession::finish(std::string failure) {
    ZVNotificationCenter::defaultCenter().removeObserver(this);
    if (failure.empty()) failure = placeMovie();
    if (!failure.empty()) ::unlink(_temporaryPath.c_str());
    _finished = true;
    _finishError = failure;
    ZVValue info;
    if (!failure.empty()) info.set("Error", failure);
    ZVNotificationCenter::defaultCenter().post(ZVExportSessionDidFinishNotification, this,
                                               std::move(info));
}

std::string ZVExportSession::placeMovie() {
    if (!_outputPath.empty()) {
        if (::rename(_temporaryPath.c_str(), _finalPath.c_str()) != 0)
            return _finalPath + ": " + std::strerror(errno);
    } else {
        // The default path never replaces a file: a name taken meanwhile gives the next one.
        while (::renameat2(AT_FDCWD, _temporaryPath.c_str(), AT_FDCWD, _finalPath.c_str(),
                           RENAME_NOREPLACE) != 0) {
            if (errno == EEXIST) {
                _finalPath = _package->movieDestination();
            } else if ((errno != EINVAL && errno != ENOSYS) ||
                       ::rename(_temporaryPath.c_str(), _finalPath.c_str()) != 0) {
                return _finalPath + ": " + std::strerror(errno);
            } else {
                break;
            }
        }
    }
    _moviePath = _finalPath;
    return {};
}

std::string ZVExportSession::waitUntilFinished(double timeoutSeconds) {
    if (!ZVRunLoop::main().runUntil([this] { return _finished; }, timeoutSeconds))
        return ZVFormat("the export did not finish within %g s", timeoutSeconds);
    return _finishError;
}
