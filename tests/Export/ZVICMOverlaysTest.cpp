// What the compressor draws into exported frames: click marks, cursor, key strip, and how
// they fade on recording time. Frames are of one known colour, so every changed pixel is
// an overlay's.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "Export/ZVICMOverlays.h"
#include "Platform/Cairo/ZVCairoKeyStripRenderer.h"
#include "Platform/FFmpeg/ZVFFmpegMediaToolkit.h"
#include "Video/ZVPixelTestSupport.h"
#include "ZorvanInternal.h"
#include "support/ZVCursorSamples.h"

namespace {
using zvtest::Pixel;
constexpr auto at = zvtest::pixelAt;
constexpr int kW = 480, kH = 200;
constexpr Pixel kBackground{90, 120, 150, 255};  // B, G, R, A
constexpr uint32_t kCursorId = 7;
constexpr uint32_t kShift = 0x20000;

// fontconfig keeps what pango's font maps load for the life of the process, some of it
// where LeakSanitizer cannot follow (fontconfig is not built with it).
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so.1\n";
}

// Feeds frames to one overlay state as the compressor's worker does: each frame's time
// since the previous one advances the fades.
struct Exporter {
    ZVICMOverlays overlays{ZVPlatformDefaults()};  // the platform's strip renderer
    ZVICMOverlays::Switches switches;
    std::vector<ZVCursorEntry> cursors;
    double previous = 0;

    std::shared_ptr<ZVMovieFrame> frame(double t, int16_t flags, ZVPoint pointer = {200, 120},
                                        int16_t keyCode = -1, uint32_t modifiers = 0) {
        ZVFrameInfo info{};
        info.dimensions = {kW, kH};
        info.mousePointerLocation = pointer;
        info.mousePointerIndex = kCursorId;
        info.timestamp = t;
        info.keyCode = keyCode;
        info.frameFlags = flags;
        info.flags = modifiers;
        auto f = ZVMovieFrame::movieFrameWithInfo(info);
        for (int row = 0; row < kH; ++row)
            for (int x = 0; x < kW; ++x)
                std::memcpy(f->baseAddress() + row * f->bytesPerRow() + 4 * x, kBackground.data(),
                            4);
        return f;
    }
    // Draws the overlays into `f` as its turn in the export comes.
    std::shared_ptr<ZVMovieFrame> draw(std::shared_ptr<ZVMovieFrame> f) {
        const double t = f->timestamp();
        overlays.draw(
            *f, t - previous, switches,
            [this](uint32_t id) -> std::optional<ZVCursorEntry> {
                for (auto& c : cursors)
                    if (uint32_t(c.id) == id) return c;
                return std::nullopt;
            },
            false);
        previous = t;
        return f;
    }
    std::shared_ptr<ZVMovieFrame> at(double t, int16_t flags = 0, ZVPoint pointer = {200, 120},
                                     int16_t keyCode = -1, uint32_t modifiers = 0) {
        return draw(frame(t, flags, pointer, keyCode, modifiers));
    }
};

bool untouched(const ZVMovieFrame& f, int x0 = 0, int row0 = 0, int x1 = kW, int row1 = kH) {
    for (int row = row0; row < row1; ++row)
        for (int x = x0; x < x1; ++x)
            if (at(f, x, row) != kBackground) return false;
    return true;
}

// The largest colour error of the mark blended at `opacity` with its top-right corner at
// the pointer (x from the left, y from the bottom).
int markError(const ZVMovieFrame& f, const ZVImage& mark, ZVPoint pointer, float opacity) {
    const int left = int(pointer.x) - mark.width(), top = kH - int(pointer.y);
    int worst = 0;
    for (int y = 0; y < mark.height(); ++y)
        for (int x = 0; x < mark.width(); ++x) {
            const auto rgba = mark.rgbaAt(x, y);
            const float a = rgba[3] / 255.0f * opacity;
            const Pixel got = at(f, left + x, top + y);
            for (int c = 0; c < 3; ++c) {
                const float want = rgba[2 - c] * a + kBackground[c] * (1 - a);
                worst = std::max(worst, int(std::lround(std::fabs(got[c] - want))));
            }
        }
    return worst;
}

// A 4 × 4 opaque magenta cursor with its hot spot at its centre.
ZVCursorEntry cursor() {
    return zvtest::makeCursor(4, 4, {2, 2}, kCursorId, 0xFFFF00FF);
}

// The strip's rows: its lower edge is 30 pixels above the picture's bottom.
constexpr int kStripTop = kH - 70, kStripBottom = kH - 30;

// How much the strip darkens the far right of its band (only its half-black fill is
// there): 0 when it is not drawn.
int stripShade(const ZVMovieFrame& f) {
    return kBackground[1] - at(f, kW - 5, kStripTop + 20)[1];
}
bool stripShown(const ZVMovieFrame& f) {
    return stripShade(f) > 20;
}
}  // namespace

TEST(ZVICMOverlays, TheMarkFollowsTheButtonsAtThePointer) {
    struct Case {
        int16_t flags;
        ZVICMOverlays::Mark mark;
    } cases[] = {
        {kZVFrameLeftButton, ZVICMOverlays::kLeft},
        {kZVFrameRightButton, ZVICMOverlays::kRight},
        {kZVFrameOtherButton, ZVICMOverlays::kOther},
        {kZVFrameLeftButton | kZVFrameRightButton, ZVICMOverlays::kLeftRight},
        {kZVFrameLeftButton | kZVFrameRightButton | kZVFrameDoubleClick, ZVICMOverlays::kLeftRight},
        {kZVFrameLeftButton | kZVFrameDoubleClick, ZVICMOverlays::kDoubleLeft},
        {kZVFrameRightButton | kZVFrameOtherButton, ZVICMOverlays::kRight},
    };
    for (const auto& c : cases) {
        Exporter e;
        const ZVImage* mark = e.overlays.mark(c.mark);
        ASSERT_TRUE(mark) << ZVICMOverlays::kMarkFiles[c.mark];
        auto f = e.at(1.0, c.flags, {150.5f, 80});
        EXPECT_LE(markError(*f, *mark, {150.5f, 80}, 1), 2) << "flags " << c.flags;
        // Nothing drawn outside the mark.
        EXPECT_TRUE(untouched(*f, 151, 0, kW, kH)) << "flags " << c.flags;
        EXPECT_TRUE(untouched(*f, 0, 0, kW, kH - 80)) << "flags " << c.flags;
    }
}

TEST(ZVICMOverlays, TheMarkStaysHalfASecondAndFollowsThePointerWhileItFadesUnlessSmoothed) {
    Exporter e;
    const ZVImage& left = *e.overlays.mark(ZVICMOverlays::kLeft);
    e.at(0.9);
    e.at(1.0, kZVFrameLeftButton);
    for (double t = 1.1; t < 1.45; t += 0.1) e.at(t, 0, {60, 100});
    // 0.5 s after the last press: still fully drawn, where the pointer is now. Each
    // frame is drawn before its own time advances the fade.
    const ZVPoint p{300, 90};
    EXPECT_LE(markError(*e.at(1.5, 0, p), left, p, 1), 2);
    EXPECT_LE(markError(*e.at(1.5, 0, p), left, p, 0.6f), 2);
    EXPECT_LE(markError(*e.at(1.6, 0, p), left, p, 0.6f), 2)
        << "a frame with the same time stamp does not advance the fade";
    e.at(1.7);
    EXPECT_TRUE(untouched(*e.at(1.8))) << "gone 0.75 s after the press";
    EXPECT_EQ(e.overlays.mouseStateOpacity(), -1.0f);

    // A press of another button switches the mark at once, at full opacity.
    e.at(2.0, kZVFrameLeftButton);
    e.at(2.55);
    auto f = e.at(2.6, kZVFrameRightButton);
    EXPECT_LE(markError(*f, *e.overlays.mark(ZVICMOverlays::kRight), {200, 120}, 1), 2);

    // Under a smoothed cursor the mark stays where the button went down.
    const ZVCursorPath path{ZVRecordedInput(ZVSize{kW, kH})};
    e.switches.cursorPath = &path;
    e.at(3.0, kZVFrameLeftButton, {100, 60});
    EXPECT_LE(markError(*e.at(3.2, 0, p), left, {100, 60}, 1), 2);
}

TEST(ZVICMOverlays, TheCursorComesFromTheListButNotOverAZoomedDisplay) {
    Exporter e;
    e.cursors = {cursor()};
    auto f = e.at(0.5, 0, {100, 50});
    // Hot spot (2, 2) at x 100, 50 from the bottom: the image starts at column 98, row 148.
    EXPECT_EQ(at(*f, 98, 148), (Pixel{255, 0, 255, 255}));
    EXPECT_TRUE(untouched(*f, 0, 0, kW, 148));

    e.cursors.clear();
    EXPECT_TRUE(untouched(*e.at(0.6))) << "an Id missing from the list draws nothing";

    e.cursors = {cursor()};
    e.at(1.0, kZVFrameLeftButton);
    auto zoomed = e.at(1.2, kZVFrameDisplayZoomed | kZVFrameLeftButton);
    EXPECT_TRUE(untouched(*zoomed)) << "neither cursor nor mark over a zoomed display";
    EXPECT_NEAR(e.overlays.mouseStateOpacity(), 3 - 4 * (0.4 + 0.2), 1e-4)
        << "the fade still advances, and a zoomed press starts no mark";
}

TEST(ZVICMOverlays, TheKeyStripShowsTheKeysForOneAndAQuarterSeconds) {
    Exporter e;
    EXPECT_FALSE(stripShown(*e.at(0.5)));
    auto typed = e.frame(1.0, kZVFrameHasKeyStrokes, {200, 120}, 122);
    typed->setKeyStrokesString("ab");
    EXPECT_TRUE(stripShown(*e.draw(typed)));
    e.at(1.1, 0, {200, 120}, 122 /* F1 */, kShift);
    EXPECT_EQ(e.overlays.displayedKeys(), "ab \u21E7F1");
    // A frame with key-stroke data but no text adds nothing, even with a key code.
    auto empty = e.frame(1.2, kZVFrameHasKeyStrokes, {200, 120}, 122);
    empty->setKeyStrokesString("");
    e.draw(empty);
    EXPECT_EQ(e.overlays.displayedKeys(), "ab \u21E7F1");

    const int shade = stripShade(*e.at(1.3));
    for (double t = 1.4; t < 2.3; t += 0.1) e.at(t);
    auto full = e.at(2.35);
    EXPECT_EQ(stripShade(*full), shade) << "fully drawn for 1.25 s after the last key";
    EXPECT_TRUE(untouched(*full, 0, 0, kW, kStripTop)) << "only the strip's rows change";
    EXPECT_TRUE(untouched(*full, 0, kStripBottom, kW, kH));
    const int half = stripShade(*e.at(2.475));
    EXPECT_NEAR(half, shade / 2, shade / 5) << "half faded 0.125 s into its 0.25 s fade";
    EXPECT_FALSE(stripShown(*e.at(2.65))) << "gone 1.5 s after the last key";
    EXPECT_EQ(e.overlays.displayedKeys(), "");
}

TEST(ZVICMOverlays, LongTypingIsCutAtTheHeadBetweenCharacters) {
    Exporter e;
    std::string shifts;
    for (int i = 0; i < 200; ++i) shifts += "\u21E7";  // 3 bytes each
    auto typed = e.frame(1.0, kZVFrameHasKeyStrokes);
    typed->setKeyStrokesString(shifts + "x");
    e.draw(typed);
    // 601 bytes, of which the picture's width (480) are kept: the cut at byte 121 lands
    // inside a character and moves on to its end.
    EXPECT_EQ(e.overlays.displayedKeys(), shifts.substr(123) + "x");
}

TEST(ZVICMOverlays, AHeldModifierKeepsTheStripAndShowsItsBox) {
    Exporter e;
    e.at(1.0, 0, {200, 120}, 122);
    for (double t = 1.1; t < 4.0; t += 0.1) e.at(t, 0, {200, 120}, -1, kShift);
    auto held = e.at(4.0, 0, {200, 120}, -1, kShift);
    EXPECT_TRUE(stripShown(*held));
    EXPECT_EQ(e.overlays.displayedKeys(), "F1");
    // The box's left edge (x 10, stroked 1 wide) is light; inside it, the fill is dark.
    EXPECT_GT(at(*held, 10, kStripTop + 20)[1], 140);
    EXPECT_LT(at(*held, 12, kStripTop + 8)[1], kBackground[1]);

    auto released = e.at(4.1);
    EXPECT_LT(at(*released, 10, kStripTop + 20)[1], kBackground[1]) << "no box without modifier";
}

TEST(ZVICMOverlays, OverlaysThePresetTurnsOffAreNotDrawn) {
    Exporter noCursor;
    noCursor.switches.cursor = false;
    noCursor.cursors = {cursor()};
    EXPECT_TRUE(untouched(*noCursor.at(1.0, kZVFrameLeftButton)));
    EXPECT_EQ(noCursor.overlays.mouseStateOpacity(), -1.0f) << "no mark, no fade";

    Exporter noClicks;
    noClicks.switches.clicks = false;
    EXPECT_TRUE(untouched(*noClicks.at(1.0, kZVFrameLeftButton)));

    Exporter noKeys;
    noKeys.switches.keys = false;
    EXPECT_TRUE(untouched(*noKeys.at(1.0, 0, {200, 120}, 122, kShift)));
    EXPECT_TRUE(untouched(*noKeys.at(3.0)));
    EXPECT_EQ(noKeys.overlays.displayedKeys(), " \u21E7F1") << "gathered, never drawn";
}

// The text is too long for the strip: its head is cut, the latest keys stay.
TEST(ZVKeyStripRenderer, AStripWithKeysAndAModifierBoxLooksLikeItsReference) {
    auto renderer = ZVPlatformDefaults().keyStripRenderer;
    ASSERT_TRUE(renderer);
    auto strip =
        renderer->drawStrip(480, "Hello \u2303\u21E7S typed, and the latest keys", "\u2303\u21E7");
    ASSERT_TRUE(strip);
    ASSERT_EQ(strip->height(), ZVKeyStripRenderer::kHeight);
    const std::string reference = std::string(ZV_TEST_DATA) + "/keystrip.png";
    if (std::getenv("ZORVAN_WRITE_REFERENCE")) {
        ASSERT_TRUE(strip->writePNG(reference));
    }
    auto want = ZVImage::readPNG(reference);
    ASSERT_TRUE(want);
    ASSERT_EQ(want->width(), strip->width());
    // Font versions may move a glyph edge: a few pixels may differ, the picture may not.
    int off = 0;
    for (int y = 0; y < strip->height(); ++y)
        for (int x = 0; x < strip->width(); ++x) {
            const auto a = strip->rgbaAt(x, y), b = want->rgbaAt(x, y);
            for (int c = 0; c < 4; ++c)
                if (std::abs(int(a[c]) * a[3] / 255 - int(b[c]) * b[3] / 255) > 48) {
                    ++off;
                    break;
                }
        }
    EXPECT_LT(off, strip->width() * strip->height() / 100);

    EXPECT_FALSE(renderer->drawStrip(0, "x", ""));
    EXPECT_FALSE(renderer->drawStrip(ZVKeyStripRenderer::kMaxWidth + 1, "x", ""));
    // Too narrow for text (margins of 100 on either side): the strip alone.
    EXPECT_TRUE(renderer->drawStrip(150, "x", "\u21E7"));
}
