#pragma once
#include "ZVPrivate.h"  // library-internal

// What the video compressor draws into each exported frame, and the state that carries
// from frame to frame: the click mark at the pointer, the cursor, and the key strip with
// the keys gathered since it last faded out. Fades run on recording time: a mark starts at
// opacity 3 and a strip at 6, both losing 4 per second, so a mark stays fully drawn for
// 0.5 s after the last press and is gone 0.25 s later; a strip stays 1.25 s, then fades
// over 0.25 s and its text is cleared.
//
// Owned by one compressor and used only by its worker.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Export/ZVKeyStripRenderer.h"
#include "Foundation/ZVPlatformServices.h"
#include "Video/ZVCursorEntry.h"
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
    };
    // The recording's cursor with an "Id", if it has one.
    using CursorLookup = std::function<std::optional<ZVCursorEntry>(uint32_t id)>;

    // Loads the five marks from the framework's resources (a mark that cannot be read is
    // never drawn) and takes the services' key-strip renderer. Any thread.
    explicit ZVICMOverlays(const ZVPlatformServices& services);

    // Both opacities back to "nothing shown", as at the start of every run; the text and
    // the current mark stay. Worker only.
    void resetOpacities();

    // Draws into `frame`, whose row 0 is already the picture's top, what its record asks
    // for, then advances the fades by `delta` seconds of recording time. Worker only.
    void draw(ZVMovieFrame& frame, double delta, const Switches& switches,
              const CursorLookup& cursors, bool cursorAsRGBA);

    // The state between frames, for diagnostics and tests. Worker only.
    float mouseStateOpacity() const { return _curMouseStateOpacity; }
    float keyStringOpacity() const { return _curKeyStringOpacity; }
    const std::string& displayedKeys() const { return _displayedKeys; }
    const ZVImage* mark(Mark which) const { return _marks[which].get(); }

  private:
    void drawCursorLayer(ZVMovieFrame& frame, double delta, const Switches& switches,
                         const CursorLookup& cursors, bool cursorAsRGBA);
    void gatherKeys(ZVMovieFrame& frame);
    void drawKeyStrip(ZVMovieFrame& frame, double delta);
    void appendKeys(const std::string& text, int32_t pictureWidth);

    std::array<std::shared_ptr<ZVImage>, kMarkCount> _marks;
    const ZVImage* _curMouseStateImage = nullptr;  // one of _marks
    float _curMouseStateOpacity = -1.0f;
    float _curKeyStringOpacity = -1.0f;
    std::string _displayedKeys;
    std::shared_ptr<ZVKeyStripRenderer> _stripRenderer;
    // The strip last drawn and what it was drawn from: frames in a row mostly show the
    // same keys, so the text is laid out once.
    std::shared_ptr<ZVImage> _strip;
    int32_t _stripWidth = 0;
    std::string _stripKeys;
    std::string _stripModifiers;
};
