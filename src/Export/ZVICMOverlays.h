#pragma once
#include "ZVPrivate.h"  // library-internal

// What the video compressor draws into each exported frame, and the state that carries
// from frame to frame: the click mark at the pointer, the cursor, and the key strip with
// the keys gathered since it last faded out. Fades run on recording time: a mark starts at
// opacity 3 and loses 4 per second, so it stays fully drawn for 0.5 s after the last press
// and is gone 0.25 s later; the strip fades as ZVKeyStripTimeline says.
//
// The cursor may be drawn where the smoothed path puts it (ZVCursorPath), larger, and not
// at all once the pointer has rested for a while; the mark stays where the pointer was
// recorded. In a zoomed frame (the export camera's view) the cursor and the mark are
// placed and sized as the view shows them and drawn after it, so they stay sharp; the
// strip keeps the picture's own scale.
//
// Owned by one compressor and used only by its worker.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Export/ZVCursorPath.h"
#include "Export/ZVKeyStripRenderer.h"
#include "Export/ZVKeyStripTimeline.h"
#include "Foundation/ZVPlatformServices.h"
#include "Media/ZVPictureScaler.h"
#include "Video/ZVCursorEntry.h"
#include "Video/ZVFrameInfo.h"
#include "Video/ZVImage.h"

class ZVMovieFrame;

class ZVICMOverlays {
  public:
    // The marks by the names of their resource files.
    enum Mark { kLeft, kRight, kOther, kLeftRight, kDoubleLeft, kMarkCount };
    static constexpr std::array<const char*, kMarkCount> kMarkFiles = {
        "lclick.png", "rclick.png", "oclick.png", "lrclick.png", "ldclick.png"};

    // Which overlays a frame gets (the preset's choices).
    struct Switches {
        bool cursor = true;
        bool clicks = true;
        bool keys = true;
        // Where the cursor is drawn; none: where each record puts the pointer. Borrowed
        // for the call.
        const ZVCursorPath* cursorPath = nullptr;
        double cursorScale = 1;  // how much larger the cursor is drawn
        double hideIdle = 0;     // seconds at rest after which the cursor goes; 0: never
    };
    // The recording's cursor with an "Id", if it has one.
    using CursorLookup = std::function<std::optional<ZVCursorEntry>(uint32_t id)>;

    // Everything one frame gets drawn into it, settled before any of it is drawn. Frames
    // with the same pixels and equal scenes look the same: the compressor lets the
    // previous picture last longer instead of encoding another one.
    struct Scene {
        std::optional<ZVCursorEntry> cursor;  // its hot spot at `pointer`, as drawn (scaled)
        const ZVImage* mark = nullptr;        // one of the marks, top-right corner at `markAt`
        std::shared_ptr<ZVImage> markScaled;  // the mark as drawn when not at its own size
        float markOpacity = 0;                // as blended: 0 to 1
        std::shared_ptr<ZVImage> strip;       // the key strip above the picture's bottom
        float stripOpacity = 0;
        // In the pixels of the picture as shown (after the view), from its bottom-left, y up.
        ZVPoint pointer{};
        ZVPoint markAt{};
        // The part of the recorded picture shown; empty while it is shown whole. A zoomed
        // export crops and scales to it, so it belongs to what is compared.
        ZVRect view{};
        bool operator==(const Scene& other) const;
    };

    // Loads the five marks from the framework's resources (a mark that cannot be read is
    // never drawn) and takes the services' key-strip renderer. Any thread.
    explicit ZVICMOverlays(const ZVPlatformServices& services);

    // Both opacities back to "nothing shown", as at the start of every run; the text and
    // the current mark stay. Worker only.
    void resetOpacities();

    // What `frame` gets drawn into it from its record and the keys gathered so far, shown
    // through `view` (a part of the picture from its bottom-left, y up; empty: all of it);
    // the fades then advance by `delta` seconds of recording time. Worker only.
    Scene plan(ZVMovieFrame& frame, double delta, const Switches& switches,
               const CursorLookup& cursors, ZVRect view = {});
    // Where `frame` lies in the picture it is drawn for: its top-left (from the picture's
    // top-left, y down) and the picture's height; a height of 0 says it is the picture.
    struct Area {
        int32_t x = 0;
        int32_t y = 0;
        int32_t pictureHeight = 0;
    };
    // Draws `scene` into `frame`: row 0 of its buffer is the picture's top, or its bottom
    // when `bottomRowFirst` (the capture file's order, read without turning it over).
    // Any thread (the frame's owner).
    static void render(ZVMovieFrame& frame, const Scene& scene, bool cursorAsRGBA,
                       bool bottomRowFirst, Area area);
    static void render(ZVMovieFrame& frame, const Scene& scene, bool cursorAsRGBA,
                       bool bottomRowFirst = false) {
        render(frame, scene, cursorAsRGBA, bottomRowFirst, Area{});
    }
    // The parts of a picture `width` x `height` that `scene` draws on (from its top-left,
    // y down, whole pixels, inside the picture): the cursor with the mark, and the strip.
    // Any thread.
    static std::vector<ZVRect> drawnAreas(const Scene& scene, int32_t width, int32_t height);
    // plan, then render into a frame whose row 0 is the picture's top. Worker only.
    void draw(ZVMovieFrame& frame, double delta, const Switches& switches,
              const CursorLookup& cursors, bool cursorAsRGBA);

    // The state between frames, for diagnostics and tests. Worker only.
    float mouseStateOpacity() const { return _curMouseStateOpacity; }
    float keyStringOpacity() const { return _keyStrip.opacity(); }
    const std::string& displayedKeys() const { return _keyStrip.keys(); }
    const ZVImage* mark(Mark which) const { return _marks[which].get(); }

  private:
    void planCursorLayer(const ZVFrameInfo& info, double delta, const Switches& switches,
                         const CursorLookup& cursors, Scene& scene);
    // Where the cursor is drawn and whether it shows, from the record at `time`.
    std::optional<ZVPoint> cursorPlace(const ZVFrameInfo& info, const Switches& switches);
    // `cursor` drawn `scale` times larger (kept while neither changes); as it is when it
    // cannot be scaled.
    ZVCursorEntry scaledCursor(const ZVCursorEntry& cursor, double scale);
    std::shared_ptr<ZVImage> scaledMark(const ZVImage* mark, double scale);
    void gatherKeys(ZVMovieFrame& frame);
    void planKeyStrip(const ZVMovieFrame& frame, double delta, Scene& scene);

    std::array<std::shared_ptr<ZVImage>, kMarkCount> _marks;
    const ZVImage* _curMouseStateImage = nullptr;  // one of _marks
    float _curMouseStateOpacity = -1.0f;
    ZVPoint _pressedAt{};  // the recorded pointer of the last frame with a button down
    ZVKeyStripTimeline _keyStrip;
    std::shared_ptr<ZVKeyStripRenderer> _stripRenderer;
    // The strip last drawn and what it was drawn from: frames in a row mostly show the
    // same keys, so the text is laid out once.
    std::shared_ptr<ZVImage> _strip;
    int32_t _stripWidth = 0;
    std::string _stripKeys;
    std::string _stripModifiers;

    std::unique_ptr<ZVPictureScaler> _scaler;  // for the cursor and marks drawn larger
    ZVPoint _restingAt{};                      // where the pointer was last seen to move to
    double _restingSince = 0;                  // and when
    bool _seenPointer = false;
    // The last cursor and mark drawn larger, and what they were made from.
    ZVCursorEntry _scaledCursor;
    std::shared_ptr<const std::vector<uint8_t>> _scaledCursorFrom;
    double _scaledCursorBy = 1;
    std::shared_ptr<ZVImage> _scaledMark;
    const ZVImage* _scaledMarkFrom = nullptr;
    double _scaledMarkBy = 1;
};
