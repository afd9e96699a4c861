#pragma once
#include "ZVPrivate.h"  // library-internal

// The movie muxer over libavformat's QuickTime, MP4, WebM and GIF muxers. The file header
// needs every stream's parameters, and a video stream's come only with its first encoded
// frame, so nothing is written before every track has them.
//
// Interleaving: the tracks are written in slices of at most half a second of media, each
// track's samples of a slice in one run, so that a player reading the file from the front
// finds every track's samples near each other. A slice goes out once every unfinished
// track has appended past its end; until then a track that runs ahead (sound is encoded
// far faster than video) keeps its samples waiting: in memory up to a few megabytes, then
// in a spool file beside the movie (unlinked at once), never blocking its writer. A
// track's start becomes its first time stamp, which the muxer turns into an edit list; it
// is fixed by the track's first append. The QuickTime and MP4 index is moved in front of
// the media when the file is closed.
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "Foundation/ZVMutex.h"
#include "Media/ZVMovieMuxer.h"

struct AVFormatContext;
struct AVPacket;

class ZVFFmpegMovieMuxer : public ZVMovieMuxer {
  public:
    static std::shared_ptr<ZVMovieMuxer> create(const std::string& path, ZVMovieContainer container,
                                                long* error);
    ~ZVFFmpegMovieMuxer() override;

    int32_t newVideoTrack(int32_t width, int32_t height, int32_t timeScale, long* error) override;
    int32_t newSoundTrack(const ZVSoundDescription& description, int32_t timeScale,
                          long* error) override;
    int32_t newTextTrack(int32_t timeScale, long* error) override;
    long setChapters(const std::vector<ZVChapterMark>& chapters) override;
    long setTrackStart(int32_t track, double seconds) override;
    long addVideoSample(int32_t track, const ZVEncodedFrameRef& frame) override;
    long addSoundSamples(int32_t track, const uint8_t* data, uint32_t size,
                         int64_t durationPerSample, uint32_t sampleCount) override;
    long addTextSample(int32_t track, int64_t start, int64_t duration,
                       const std::string& text) override;
    long finishTrack(int32_t track) override;
    long close() override;

  private:
    // A sample waiting for its slice: its packet in memory, or its bytes in the spool.
    struct Waiting {
        AVPacket* packet = nullptr;  // owned; nullptr when spooled
        int64_t pts = 0, dts = 0, duration = 0;
        int flags = 0;
        uint32_t size = 0;
        int64_t offset = 0;  // in the spool
    };
    struct Track {
        bool video = false;
        bool text = false;   // timed text: its samples' times are its own, as video's are
        bool ready = false;  // its stream parameters are set
        bool finished = false;
        int32_t timeScale = 0;
        int64_t start = 0;     // in the time scale
        int64_t nextTime = 0;  // sound: the next sample's media time
        int64_t end = 0;       // video, text: the end of the last sample appended, start included
        int64_t samples = 0;   // samples appended
        std::deque<Waiting> waiting;
        int64_t waitingBytes = 0;  // of the packets held in memory
        size_t spooled = 0;        // waiting samples whose bytes are in the spool
        int spool = -1;
        int64_t spoolEnd = 0;
    };
    ZVFFmpegMovieMuxer() = default;
    bool valid(int32_t track) const ZV_REQUIRES(_lock);
    // Where nothing the track appends from now on can start before, in seconds.
    double appendedUntil(const Track& t) const;
    // Queues one sample of `track` (taking `packet`) and writes what can go out.
    long append(int32_t track, AVPacket* packet) ZV_REQUIRES(_lock);
    // Writes every whole slice (all of them once every track is finished).
    long writeSlices() ZV_REQUIRES(_lock);
    // Writes the track's first waiting sample.
    void writeWaiting(int32_t track) ZV_REQUIRES(_lock);
    // Writes one packet (taking it). Answers 0 or an error.
    long write(AVPacket* packet) ZV_REQUIRES(_lock);
    // Writes the header once every track is ready.
    long writeHeaderIfReady() ZV_REQUIRES(_lock);
    long status(int r) const ZV_REQUIRES(_lock);
    // Gives the context the chapters, the last one ending where the movie does.
    long addChapters() ZV_REQUIRES(_lock);

    ZVMutex _lock;  // guards everything below: the one AVFormatContext and the tracks
    std::string _path;
    ZVMovieContainer _container = ZVMovieContainer::QuickTime;
    AVFormatContext* _context ZV_GUARDED_BY(_lock) = nullptr;
    std::vector<Track> _tracks ZV_GUARDED_BY(_lock);
    std::vector<ZVChapterMark> _chapters ZV_GUARDED_BY(_lock);
    double _sliceEnd ZV_GUARDED_BY(_lock) = 0;     // of the slice being gathered, in seconds
    size_t _lastWritten ZV_GUARDED_BY(_lock) = 0;  // the track of the file's last run
    bool _headerWritten ZV_GUARDED_BY(_lock) = false;
    bool _closed ZV_GUARDED_BY(_lock) = false;
    long _failure ZV_GUARDED_BY(_lock) = 0;  // a write error: every later write answers it
};
