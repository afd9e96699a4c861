#pragma once
#include "ZVPrivate.h"  // library-internal

// A video stream from one PipeWire node (a screen cast of a monitor or a window): it keeps
// the newest frame the compositor sent and the cursor that came with it, and lets any
// thread copy a rectangle out of that frame. The compositor sends frames only when the
// picture changes, so a reader sees the same frame until the next one comes.
//
// Threads: PipeWire's callbacks run on the connection's loop thread; they take buffers
// and hand the newest one over under _frameLock. Every public method may be called from
// any thread but that loop thread.
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Foundation/ZVGeometry.h"
#include "Foundation/ZVMutex.h"
#include "Video/ZVDamage.h"
#include "Video/ZVDisplayServer.h"

class ZVPipeWireConnection;
class ZVPixelStorage;
struct ZVPixelMemory;
struct pw_buffer;
struct spa_pod_builder;

class ZVPipeWireStream {
  public:
    // The cursor the newest metadata described.
    struct Cursor {
        bool known = false;    // metadata came at all (the cursor is not in the pixels)
        bool visible = false;  // over this stream and not hidden
        int32_t x = 0;         // the pointer, in the stream's pixels from its top-left
        int32_t y = 0;
        std::shared_ptr<const ZVCursorImage> image;  // its serial names the bitmap
    };

    // Connects to node `nodeId` on `connection` (kept). nullptr with *error; on a connection
    // that broke, a stream that has ended already. Any thread.
    static std::unique_ptr<ZVPipeWireStream> open(std::shared_ptr<ZVPipeWireConnection> connection,
                                                  uint32_t nodeId, std::string* error);
    ~ZVPipeWireStream();
    ZVPipeWireStream(const ZVPipeWireStream&) = delete;
    ZVPipeWireStream& operator=(const ZVPipeWireStream&) = delete;

    // Waits until a frame newer than the `seen`-th has come (frames are counted from 1) or
    // the stream ended; true when one has. Any thread.
    bool waitForFrame(uint64_t seen, std::chrono::milliseconds timeout) ZV_EXCLUDES(_frameLock);
    // How many frames have come. Any thread.
    uint64_t frameCount() const ZV_EXCLUDES(_frameLock);

    // The newest frame's size in pixels; 0 x 0 before the first. Any thread.
    std::pair<int32_t, int32_t> pixelSize() const ZV_EXCLUDES(_frameLock);
    // The negotiated frame rate (the maximum where the rate is variable); 0 when unknown.
    // Any thread.
    double frameRate() const ZV_EXCLUDES(_frameLock);

    // Copies `rect` (logical units from the frame's top-left, y down; `scale` pixels per
    // unit) of the newest frame bottom-up into the destination, as
    // ZVDisplayServer::readDisplayRect says; parts outside the frame are left alone. False
    // before the first frame. Any thread.
    bool readRect(const ZVRect& rect, double scale, uint8_t* bottomLeft, uint32_t stride,
                  uint32_t maxRows, uint32_t maxBytesPerRow) ZV_EXCLUDES(_frameLock);
    // Copies `area` (pixels from the newest frame's top-left, y down) top line first into
    // `buffer`, which has the area's size, each pixel's fourth byte as the compositor left
    // it. Where the buffer's memory still holds a picture of this area that this stream left
    // in it, and no one has had it since, only what changed after that picture is copied;
    // otherwise, and at least once a second for each memory (so a change the producer left
    // unsaid reaches it), the whole area. False, nothing written, when the area does not lie
    // wholly in the frame, the buffer is of another size, or the pixels are not B, G, R
    // first. Any thread.
    bool copyInto(const ZVDamageRect& area, ZVPixelStorage& buffer) ZV_EXCLUDES(_frameLock);
    // The whole newest frame, rows top-down, B, G, R, 0xFF. Any thread.
    std::optional<ZVRawImage> image() ZV_EXCLUDES(_frameLock);

    // Where the newest frame changed, inside `area` (pixels from the frame's top-left), since
    // `reader` last asked about the same area: from the area's top-left, clipped to it, and
    // forgotten once handed over. nullopt on a reader's first question, after one about
    // another area, and when a frame's change went unsaid (no damage with a buffer, an
    // empty list or a full one, a new size, a buffer lost on the way as a gap in the
    // header's numbers shows): the caller then compares the whole picture. Asked
    // before the pixels are read, under the lock the frames are handed over with, so a
    // change is in this answer or the next. Any thread.
    std::optional<ZVDamage> takeDamage(uint64_t reader, const ZVDamageRect& area)
        ZV_EXCLUDES(_frameLock);

    // The newest cursor. Any thread.
    Cursor cursor() const ZV_EXCLUDES(_frameLock);

    // Adds to the format object `b` is building the DMA-BUF modifier property: a choice of
    // `modifiers` (the first is the default), left open for the producer to fix when
    // `open`. Any thread.
    static void addModifiers(spa_pod_builder& b, const std::vector<uint64_t>& modifiers, bool open);

    // Why the stream ended (the node went away, the connection broke, an error); empty
    // while it runs. Any thread.
    std::string endReason() const ZV_EXCLUDES(_frameLock);

  private:
    struct Impl;
    explicit ZVPipeWireStream(std::unique_ptr<Impl> impl);

    // The pixels a reader copies from: a buffer PipeWire lent us (shared memory or a linear
    // DMA-BUF mapped for reading), or our own copy of the last one when its buffers went
    // away with a format change.
    struct Frame {
        const uint8_t* data = nullptr;
        int32_t width = 0;
        int32_t height = 0;
        uint32_t stride = 0;
        bool swapRB = false;  // RGBx/RGBA rather than BGRx/BGRA
        int32_t cropX = 0;    // where the picture starts in the buffer's pixels
        int32_t cropY = 0;
        int dmaBufFd = -1;  // reads of a DMA-BUF are bracketed by syncs on it
    };
    friend struct Impl;
    // What one reader has not been told yet, in frame pixels clipped to its area.
    struct DamageReader {
        uint64_t reader = 0;
        ZVDamageRect area;
        bool known = true;  // false once a change went unsaid: the next answer is nullopt
        ZVDamage rects;
    };
    // A memory a picture was copied into: which picture of which area, whether anyone had
    // the memory since (the pool's count of hand-outs then), and when it was last copied whole.
    struct Filled {
        std::weak_ptr<ZVPixelMemory> memory;
        uint64_t handOuts = 0;
        uint64_t picture = 0;
        ZVDamageRect area;
        std::chrono::steady_clock::time_point wholeAt;
    };
    // Adds one hand-over's damage to every reader's (nullopt: unknown) and to the history.
    // Loop thread only.
    void addDamage(const std::optional<ZVDamage>& damage) ZV_REQUIRES(_frameLock);
    // What changed inside `area` since picture `since` (from the area's top-left); nullopt
    // when it is not known.
    std::optional<ZVDamage> changedSince(uint64_t since, const ZVDamageRect& area) const
        ZV_REQUIRES(_frameLock);

    std::unique_ptr<Impl> _impl;
    mutable ZVMutex _frameLock;  // guards the fields below; the loop thread holds it briefly
    ZVCondition _frameCame;      // signalled on each frame and at the end
    Frame _frame ZV_GUARDED_BY(_frameLock);
    pw_buffer* _held ZV_GUARDED_BY(_frameLock) = nullptr;  // lent by PipeWire, requeued later
    std::vector<uint8_t> _ownCopy ZV_GUARDED_BY(_frameLock);
    uint64_t _frames ZV_GUARDED_BY(_frameLock) = 0;
    double _rate ZV_GUARDED_BY(_frameLock) = 0;
    Cursor _cursor ZV_GUARDED_BY(_frameLock);
    std::string _end ZV_GUARDED_BY(_frameLock);
    std::vector<DamageReader> _damageReaders ZV_GUARDED_BY(_frameLock);
    // Where each of the latest pictures changed against the one before, the newest last.
    std::deque<std::optional<ZVDamage>> _history ZV_GUARDED_BY(_frameLock);
    std::vector<Filled> _filled ZV_GUARDED_BY(_frameLock);
};
