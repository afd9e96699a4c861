#pragma once
#include "ZVPrivate.h"  // library-internal

// A movie file being written: tracks of compressed video and sound, each placed at its own
// start in the movie (an edit, so no sample is cut or padded). Appends to different tracks
// may come from different threads at once; the muxer serialises them. The tracks are
// interleaved in the file in runs of at most half a second, with the index in front of the
// media where the container has one, so that a player can start before the file is whole.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Media/ZVAudioBuffers.h"
#include "Media/ZVEncodedFrame.h"
#include "Media/ZVMovieText.h"

// The error a write answers when the disk (or the process's file-size limit) is full.
inline constexpr long kZVMediaErrDiskFull = -34;
// Finishing a track that holds no media.
inline constexpr long kZVMediaErrInvalidDuration = -2014;

class ZVMediaToolkit;

class ZVMovieMuxer {
  public:
    // A new movie file of `container` at `path` through `toolkit` (the services' media
    // toolkit), replacing a file that is there; nullptr with `*error` set when there is no
    // toolkit or it cannot be created. Any thread.
    static std::shared_ptr<ZVMovieMuxer> create(
        ZVMediaToolkit* toolkit, const std::string& path, long* error = nullptr,
        ZVMovieContainer container = ZVMovieContainer::QuickTime);
    virtual ~ZVMovieMuxer() = default;

    // A new track; its number, or -1 with `*error` set. Before the first append.
    virtual int32_t newVideoTrack(int32_t width, int32_t height, int32_t timeScale,
                                  long* error) = 0;
    virtual int32_t newSoundTrack(const ZVSoundDescription& description, int32_t timeScale,
                                  long* error) = 0;
    // A track of timed text that players can switch on and off (QuickTime text in
    // QuickTime and MP4, WebVTT in WebM); kZVMediaErrUnsupported for a container without
    // one. Before the first append.
    virtual int32_t newTextTrack(int32_t timeScale, long* error) = 0;
    // The movie's chapters, in time order (seconds from the movie's start); each lasts
    // until the next one, the last until the movie ends. The chapter index is made when
    // the file is closed and goes in front of the media with the rest of the index. Before
    // the first append.
    virtual long setChapters(const std::vector<ZVChapterMark>& chapters) = 0;
    // Where the track's media begins in the movie, in seconds (>= 0): before the track's
    // first append, since samples go into the file as soon as every track has reached them.
    virtual long setTrackStart(int32_t track, double seconds) = 0;

    // Appends one compressed frame with its own times. Any thread.
    virtual long addVideoSample(int32_t track, const ZVEncodedFrameRef& frame) = 0;
    // Appends `sampleCount` sound samples of `durationPerSample` each, stored in `size`
    // bytes at `data` (copied before it returns). Any thread.
    virtual long addSoundSamples(int32_t track, const uint8_t* data, uint32_t size,
                                 int64_t durationPerSample, uint32_t sampleCount) = 0;
    // Appends `text` (UTF-8; empty: nothing shown) shown from `start` for `duration`, in
    // the track's time scale; samples come in time order. Any thread.
    virtual long addTextSample(int32_t track, int64_t start, int64_t duration,
                               const std::string& text) = 0;
    // No more samples for the track: kZVMediaErrInvalidDuration when it got none.
    virtual long finishTrack(int32_t track) = 0;
    // Writes the movie's index (moving it in front of the media) and closes the file;
    // after every track finished.
    virtual long close() = 0;
};
