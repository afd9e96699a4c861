#pragma once
// The WAV stage. A writer (mode 1) takes sound packets from its data source and appends
// their samples to a WAV file, writing the header again with the final sizes when it
// stops; a reader (mode 0) takes the file's fixed 68-byte header and cuts everything
// behind it into packets of at most 4096 bytes for its data destination.
//
// Threads: the caller configures, starts, stops, pauses and finalizes; one worker thread
// owns the file while it runs. The header records and the format are shared with callers
// of fileInfo/format/frames/duration under _headerLock.
//
// Its did-stop carries {"Error": reason} when the file could not be written or read.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <sys/types.h>

#include "Audio/ZVSoundFormat.h"
#include "Audio/ZVWavRecords.h"
#include "Foundation/ZVMutex.h"
#include "Pipeline/ZVWorkerStage.h"

// Bytes a reader takes from the file per packet.
inline constexpr int32_t kZVWavIODefaultChunkSize = 4096;

class ZVWavIO;

// The stage's notifications; each value is its own name (hosts match on the text).
inline constexpr std::string_view ZVWavIOShouldStartNotification = "ZVWavIOShouldStartNotification";
inline constexpr std::string_view ZVWavIOWillStartNotification = "ZVWavIOWillStartNotification";
inline constexpr std::string_view ZVWavIODidStartNotification = "ZVWavIODidStartNotification";
inline constexpr std::string_view ZVWavIODidChangePauseStateNotification =
    "ZVWavIODidChangePauseStateNotification";
inline constexpr std::string_view ZVWavIOShouldStopNotification = "ZVWavIOShouldStopNotification";
inline constexpr std::string_view ZVWavIOWillStopNotification = "ZVWavIOWillStopNotification";
inline constexpr std::string_view ZVWavIODidStopNotification = "ZVWavIODidStopNotification";

// What the stage tells its delegate, on the main thread; every call does nothing by default.
class ZVWavIODelegateInformalProtocol {
  public:
    virtual ~ZVWavIODelegateInformalProtocol() = default;
    virtual void ZVWavIODidStart(ZVWavIO*) {}
    virtual void ZVWavIODidStop(ZVWavIO*) {}
    virtual void ZVWavIODidChangePauseState(ZVWavIO*, bool /*paused*/) {}
};

class ZVWavIO : public ZVWorkerStage<ZVWavIODelegateInformalProtocol> {
  public:
    static constexpr int32_t kModeRead = 0;
    static constexpr int32_t kModeWrite = 1;

    // The stage for `path`; nullptr when reading (mode 0) and nothing exists at the path.
    // Main thread (any thread works; the delegate is then still called on the main one).
    static std::shared_ptr<ZVWavIO> initWithFile(const std::string& path, int32_t mode);
    // A writer with its format set. Main thread.
    static std::shared_ptr<ZVWavIO> wavIOForWriting(const std::string& path, ZVSoundFormat format);
    // A reader, or nullptr when the file does not exist. Main thread.
    static std::shared_ptr<ZVWavIO> wavIOForReading(const std::string& path);
    ~ZVWavIO() override;

    // Sets the format and the frame size, (channels x bits) / 8. A writer needs one with a
    // non-zero frame size before it starts. Caller's thread, before start.
    void setFormat(ZVSoundFormat format);
    // The writer's format, or a reader's once its worker has read the header. Any thread.
    ZVSoundFormat format() const;

    // Lifecycle (see ZVWorkerStage; a nullptr delegate means the do-nothing one). start
    // launches the writer or the reader, once; stop asks a running worker to end; a writer
    // drains its source and stops at its end of stream or after finalize; a reader passes
    // the end on after the file's last packet; pause posts only when the state changes.
    // Any thread.
    void start();
    void stop() override;
    void pause(bool paused) override;

    // A copy of the three header records as they are now. Any thread.
    ZVWavFileInfo fileInfo() const;
    // chData's Subchunk2Size over the frame size of format(); 0 while that is 0. Any thread.
    int32_t frames() const;
    // frames() / sampleRate in single precision; 0 while the rate is 0. Any thread.
    double duration() const;

    // The file and the direction, fixed at creation. Any thread.
    const std::string& fullPath() const { return _fullPath; }
    int32_t mode() const { return _mode; }

  private:
    ZVWavIO(std::string path, int32_t mode) : _fullPath(std::move(path)), _mode(mode) {}

    void wavWriter();  // worker only
    void wavReader();  // worker only
    // worker only
    void writerLoop(int fd, ZVSoundFormat format, int32_t bytesPerFrame, off_t dataOffset);
    // Writes the header counting `frames` at offset 0, leaving the file offset. Worker only.
    static bool patchSizes(int fd, ZVSoundFormat format, uint32_t frames);
    void readerLoop(int fd, ZVSoundFormat format);  // worker only

    const std::string _fullPath;
    const int32_t _mode;
    mutable ZVMutex _headerLock;  // guards the records, _format and _bytesPerFrame
    ZVWavRiffHeader head ZV_GUARDED_BY(_headerLock){};
    ZVWavFormatChunk chFormat ZV_GUARDED_BY(_headerLock){};
    ZVWavDataChunkHeader chData ZV_GUARDED_BY(_headerLock){};
    ZVWavFactChunk chFact ZV_GUARDED_BY(_headerLock){};
    ZVSoundFormat _format ZV_GUARDED_BY(_headerLock){};
    int32_t _bytesPerFrame ZV_GUARDED_BY(_headerLock) = 0;
    uint32_t _framesCount = 0;  // the writer's worker only
    const int32_t _chunkSize = kZVWavIODefaultChunkSize;
};
