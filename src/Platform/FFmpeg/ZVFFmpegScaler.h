#pragma once
#include "ZVPrivate.h"  // library-internal

// Converts BGRA pictures into the encoder's picture format and size with libswscale:
// stretched, or fitted with the proportions kept and black bars around (letterbox). A
// picture with a view (the export camera) has that part scaled into the same place in
// one pass: its whole pixels are read, scaled a little larger than the place when the
// part begins between pixels, and the window the part covers is copied, so the fraction
// is a shift by whole output pixels rather than a change of filter (no shimmer on text).
// Patches are then converted into the picture at their places.
#include <cstdint>

#include "Media/ZVCompressionSession.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

struct AVBufferPool;
struct AVFrame;
struct SwsContext;

// Where a picture of srcW × srcH lands inside dstW × dstH when letterboxed: as large as
// fits, centred, with origin and size multiples of (1 << alignX) and (1 << alignY).
struct ZVFFmpegPlacement {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};
ZVFFmpegPlacement ZVFFmpegLetterbox(int srcW, int srcH, int dstW, int dstH, int alignX, int alignY);

// Whether pictures of `format` are full-range JPEG (BT.601) rather than BT.709 video.
bool ZVFFmpegIsJPEGRange(AVPixelFormat format);

// One per session; one thread at a time.
class ZVFFmpegScaler {
  public:
    ZVFFmpegScaler(int width, int height, AVPixelFormat format, bool letterbox, int alignX,
                   int alignY);
    ~ZVFFmpegScaler();
    ZVFFmpegScaler(const ZVFFmpegScaler&) = delete;
    ZVFFmpegScaler& operator=(const ZVFFmpegScaler&) = delete;

    // A frame (the caller owns it) holding the converted picture: `reuse` when given (a
    // frame this scaler made earlier, no longer referenced elsewhere), else a new one.
    // nullptr when the picture is empty or memory runs out; `reuse` is freed then.
    AVFrame* convert(const ZVSourcePixels& pixels, AVFrame* reuse = nullptr);

  private:
    // Where a srcW x srcH picture lands in the output (letterboxed or filling it).
    void place(int srcW, int srcH);
    // The picture's view scaled into `frame` at the placement; false without memory.
    bool convertView(const ZVSourcePixels& pixels, AVFrame* frame);
    // Each patch converted into `frame` at its place.
    void convertPatches(const ZVSourcePixels& pixels, AVFrame* frame);
    // `width` x `height` pixels of every plane from one picture to another.
    void copyPlanes(uint8_t* const from[4], const int fromLines[4], uint8_t* const to[4],
                    const int toLines[4], int width, int height) const;
    // `frame` (made anew when smaller than width x height) as a picture of the output's
    // format; nullptr without memory.
    AVFrame* scratch(AVFrame*& frame, int width, int height) const;
    // Plane pointers of `frame` at the output point (x, y).
    void planesAt(AVFrame* frame, int x, int y, uint8_t* planes[4]) const;
    // A frame of the output size whose picture comes from _pool; nullptr without memory.
    AVFrame* pooledFrame();

    int _width, _height;
    AVPixelFormat _format;
    bool _letterbox;
    int _alignX, _alignY;
    int _srcW = 0, _srcH = 0;
    ZVFFmpegPlacement _place;
    AVBufferPool* _pool = nullptr;  // made with the first frame
    // A bicubic context from BGRA for the sizes it was last asked for.
    struct Context {
        SwsContext* sws = nullptr;
        int sizes[4] = {};
        ~Context();
        // Made anew when the sizes differ; false when it cannot be made.
        bool fit(int srcW, int srcH, int dstW, int dstH, AVPixelFormat format);
        bool fits(int srcW, int srcH, int dstW, int dstH) const {
            return sws && srcW == sizes[0] && srcH == sizes[1] && dstW == sizes[2] &&
                   dstH == sizes[3];
        }
    };
    Context _whole;                    // for whole pictures
    Context _view;                     // for the views
    Context _patches[2];               // for the patches, by their sizes
    unsigned _nextPatch = 0;           // the one a patch of new sizes takes
    AVFrame* _shifted = nullptr;       // a view begun between pixels, scaled larger
    AVFrame* _patchPicture = nullptr;  // a patch converted, before it is copied in
};
