#pragma once
// A small X client for tests: windows with known pixels, root cursors and XTest input, on
// a connection of its own (DISPLAY from the fixture). All of it is synchronous: each call
// returns after the server has done it.
#include <cstdint>
#include <map>
#include <vector>

typedef struct xcb_connection_t xcb_connection_t;

namespace zvtest {

// Glyphs of the X cursor font.
inline constexpr int kCursorLeftPtr = 68;
inline constexpr int kCursorWatch = 150;
inline constexpr int kCursorXterm = 152;

class X11TestClient {
  public:
    X11TestClient();
    ~X11TestClient();
    X11TestClient(const X11TestClient&) = delete;
    X11TestClient& operator=(const X11TestClient&) = delete;

    bool ok() const { return _c != nullptr; }

    // The pattern shown by showPattern at root pixel (x, y), as 0x00RRGGBB: blue = x & 0xFF,
    // green = y & 0xFF, red = high bits of both, so every pixel of a 4096-square root
    // differs from every other.
    static uint32_t patternPixel(int x, int y);

    // An override-redirect window at root (x, y, w, h) filled with the pattern (by root
    // position) or one colour (0x00RRGGBB). Returns its id. Main thread.
    uint32_t showPattern(int x, int y, int w, int h);
    uint32_t showColor(int x, int y, int w, int h, uint32_t rgb);
    void destroyWindow(uint32_t window);

    // Puts a cursor on the root window (every window of the tests inherits it): a glyph
    // of the cursor font, or one without a single visible pixel. Main thread.
    void setRootCursor(int glyph);
    void setInvisibleRootCursor();

    // XTest: move the pointer to root (x, y).
    void movePointer(int x, int y);

    // Round trip: everything sent before is done. Main thread.
    void sync();

    // Fills (x, y, w, h) of `window` with one colour (0x00RRGGBB), without waiting for the
    // server (sync() does). The client's thread.
    void fill(uint32_t window, int x, int y, int w, int h, uint32_t rgb);

    // A mapped window showing `pixels` (w x h, 0x00RRGGBB); its id, 0 without a server.
    uint32_t showPixels(int x, int y, int w, int h, const std::vector<uint32_t>& pixels);

  private:
    xcb_connection_t* _c = nullptr;
    uint32_t _root = 0;
    uint8_t _depth = 24;
    uint32_t _visual = 0;
    uint32_t _gc = 0;
    uint32_t _cursorFont = 0;
    std::map<int, uint32_t> _glyphCursors;  // glyph -> cursor id
};

}  // namespace zvtest
