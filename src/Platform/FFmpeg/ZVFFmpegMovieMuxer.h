#pragma once
#include "ZVPrivate.h"  // library-internal

// The movie muxer over libavformat's QuickTime (mov) muxer. The file header needs every
// stream's parameters, and a video stream's come only with its first encoded frame: until
// every track has them, appended samples wait in memory (refcounted copies); then the
// header is written and they go out in the order they came. Samples are written without
// interleaving (av_write_frame), so a track that runs ahead never waits for the others.
// A track's start becomes its first time stamp, which the muxer turns into an edit list.
// A sound track's start may change until the track is finished, so its samples wait in a
// spool file beside the movie (unlinked at once) and go out, placed, when it finishes.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Foundation/ZVMutex.h"
#include "Media/ZVMovieMuxer.h"

struct AVFormatContext;
struct AVPacket;

class ZVFFmpegMovieMuxer : public ZVMovieMuxer {
  public:
    static std::shared_ptr<ZVMovieMuxer> create(const std::string& path, long* error);
    ~ZVFFmpegMovieMuxer() override;

    int32_t newVideoTrack(int32_t width, int32_t height, int32_t timeScale, long* error) override;
    int32_t newSoundTrack(const ZVSoundDescription& description, int32_t timeScale,
                          long* error) override;
    long setTrackStart(int32_t track, double seconds) override;
    long addVideoSample(int32_t track, const ZVEncodedFrameRef& frame) override;
    long addSoundSamples(int32_t track, const uint8_t* data, uint32_t size,
                         int64_t durationPerSample, uint32_t sampleCount) override;
    long finishTrack(int32_t track) override;
    long close() override;

  private:
    struct Track {
        bool video = false;
        bool ready = false;  // its stream parameters are set
        bool finished = false;
        int32_t timeScale = 0;
        int64_t start = 0;           // in the time scale
        int64_t nextTime = 0;        // sound: the next sample's media time
        int64_t samples = 0;         // samples appended
        int64_t firstDts = 0;        // video: the first frame's decode time, made the track start
        std::FILE* spool = nullptr;  // sound: the samples so far, with their media times
    };
    ZVFFmpegMovieMuxer() = default;
    bool valid(int32_t track) const ZV_REQUIRES(_lock);
    // Writes or holds one packet (the muxer takes a reference). Answers 0 or an error.
    long write(AVPacket* packet) ZV_REQUIRES(_lock);
    // Writes the header once every track is ready, then the held packets.
    long writeHeaderIfReady() ZV_REQUIRES(_lock);
    // Writes a sound track's spooled samples at its start and closes the spool.
    long writeSpool(int32_t track) ZV_REQUIRES(_lock);
    long status(int r) const ZV_REQUIRES(_lock);

    ZVMutex _lock;  // guards everything below: the one AVFormatContext and the tracks
    std::string _path;
    AVFormatContext* _context ZV_GUARDED_BY(_lock) = nullptr;
    std::vector<Track> _tracks ZV_GUARDED_BY(_lock);
    std::vector<AVPacket*> _held ZV_GUARDED_BY(_lock);
    bool _headerWritten ZV_GUARDED_BY(_lock) = false;
    bool _closed ZV_GUARDED_BY(_lock) = false;
    long _failure ZV_GUARDED_BY(_lock) = 0;  // a write error: every later write answers it
};
