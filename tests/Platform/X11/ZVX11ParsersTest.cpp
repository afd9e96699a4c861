// The pure parts of the X11 layer: EDID names, geometry strings, cursor unpacking, the row
// copy, and the refusal of a Wayland session.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <vector>

#include "Platform/X11/ZVEDID.h"
#include "Platform/X11/ZVX11Connection.h"
#include "Platform/X11/ZVX11Cursor.h"
#include "Platform/X11/ZVX11DisplayServer.h"
#include "Platform/X11/ZVX11Geometry.h"
#include "Platform/X11/ZVX11ScreenReader.h"
#include "Video/ZVDisplayLink.h"
#include "support/ZVTestSupport.h"

namespace {

std::vector<uint8_t> edid(const char* descriptorText, uint8_t tag = 0xFC, size_t slot = 1) {
    std::vector<uint8_t> b(128, 0);
    const uint8_t header[8] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
    std::memcpy(b.data(), header, 8);
    b[54] = 0x01;  // a detailed timing in the first slot
    b[55] = 0x1d;
    uint8_t* d = b.data() + 54 + 18 * slot;
    d[3] = tag;
    std::memset(d + 5, ' ', 13);
    std::memcpy(d + 5, descriptorText, std::min<size_t>(13, std::strlen(descriptorText)));
    return b;
}

}  // namespace

TEST(ZVEDID, ProductNameFromTheMonitorNameDescriptor) {
    struct Case {
        std::vector<uint8_t> bytes;
        std::optional<std::string> name;
    } cases[] = {
        {edid("ZV Panel 27\n"), "ZV Panel 27"},
        {edid("ABCDEFGHIJKLMNOP"), "ABCDEFGHIJKLM"},  // 13 bytes at most
        {edid("Wide   \n"), "Wide"},
        {edid("Serial 123\n", 0xFF), std::nullopt},  // a serial-number descriptor
        {edid("Last slot\n", 0xFC, 3), "Last slot"},
        {edid("\n"), std::nullopt},
        {std::vector<uint8_t>(127, 0), std::nullopt},  // short
        {std::vector<uint8_t>(128, 0), std::nullopt},  // no header
    };
    for (auto& c : cases) EXPECT_EQ(ZVEDIDProductName(c.bytes.data(), c.bytes.size()), c.name);
    EXPECT_EQ(ZVEDIDProductName(nullptr, 128), std::nullopt);
}

TEST(ZVX11Geometry, ParsesWidthHeightAndOffsets) {
    for (auto [text, w, h, x, y] : {std::tuple{"640x480+100+50", 640, 480, 100, 50},
                                    {"1x1+-20+-0", 1, 1, -20, 0},
                                    {"32767x32767+32767+-32767", 32767, 32767, 32767, -32767}}) {
        auto g = ZVParseX11Geometry(text);
        ASSERT_TRUE(g) << text;
        EXPECT_EQ(std::tuple(g->width, g->height, g->x, g->y), std::tuple(w, h, x, y)) << text;
    }
    for (const char* bad :
         {"", "640x480", "640x480+1", "0x10+0+0", "10x0+0+0", "-5x10+0+0", "640X480+0+0",
          "640x480+0+0 ", "99999x1+0+0", "32768x1+0+0", "1x1+0+40000", "1x1+0+0+0", "axb+0+0"})
        EXPECT_FALSE(ZVParseX11Geometry(bad)) << bad;
}

TEST(ZVX11Cursor, Unpremultiplies) {
    const uint32_t words[4] = {0x80402010, 0x00000000, 0x7F7F7F7F, 0xFF102030};  // A R G B
    std::vector<uint8_t> out(16);
    ZVX11UnpremultiplyCursor(words, 4, out.data());
    // B, G, R, A. Alpha 0x80 with premultiplied 0x40, 0x20, 0x10: each * 255 / 128, rounded;
    // transparent stays all zero; alpha 0x7F over colour 0x7F is full intensity.
    EXPECT_EQ(out, (std::vector<uint8_t>{0x20, 0x40, 0x80, 0x80, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F,
                                         0x30, 0x20, 0x10, 0xFF}));
}

TEST(ZVX11ScreenReader, CopyReversesRowsAndSetsTheFourthByte) {
    // Two rows of two pixels, B G R X with X = 0 as the server sends them.
    const uint8_t src[16] = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 10, 11, 12, 0};
    std::vector<uint8_t> dst(2 * 12, 0xAB);
    // Bottom-up: the top source row goes to the highest destination row.
    ZVX11CopyOpaqueRows(src, 8, dst.data() + 12, -12, 2, 2, false);
    EXPECT_EQ(dst, (std::vector<uint8_t>{7, 8, 9, 255, 10, 11, 12, 255, 0xAB, 0xAB, 0xAB, 0xAB,
                                         1, 2, 3, 255, 4,  5,  6,  255, 0xAB, 0xAB, 0xAB, 0xAB}));
    // A server that sends the most significant byte first: X R G B.
    const uint8_t msb[4] = {0, 3, 2, 1};
    uint8_t one[4];
    ZVX11CopyOpaqueRows(msb, 4, one, 4, 1, 1, true);
    EXPECT_EQ((std::vector<uint8_t>(one, one + 4)), (std::vector<uint8_t>{1, 2, 3, 255}));
}

TEST(ZVX11Connection, NoDisplayLinkInAWaylandSession) {
    zvtest::EnvScope wayland("WAYLAND_DISPLAY", "wayland-0");
    zvtest::LogCapture log;
    int32_t error = 0;
    ZVX11DisplayServer server;  // the session's own choice would be the screen cast
    EXPECT_EQ(ZVDisplayLink::createWithActiveDisplays(server, &error), nullptr);
    EXPECT_EQ(error, ZVDisplayLink::kInvalidDisplay);
    EXPECT_TRUE(log.contains(kZVX11WaylandRefusal));
}
