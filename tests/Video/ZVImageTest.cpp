// Pictures out of pixel buffers, as PNG files that standard tools read the right way up.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "ZorvanInternal.h"
#include "support/ZVTestSupport.h"

namespace {
std::string run(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[256];
        while (fgets(buf, sizeof buf, p)) out += buf;
        pclose(p);
    }
    return out;
}

bool haveIdentify() {
    return run("command -v identify").size() > 0;
}

// A 6 × 4 buffer whose memory row 0 (the bottom of the screen) is red and whose last row
// (the top) is blue, with a green pixel at the left of the top row.
std::shared_ptr<ZVPixelBuffer> screenLikeBuffer() {
    auto b = ZVPixelBuffer::pixelBufferWithSize({6, 4});
    b->clearBuffer();
    for (int x = 0; x < 6; ++x) {
        uint8_t* bottom = b->baseAddress() + 4 * x;
        uint8_t* top = b->baseAddress() + 3 * b->bytesPerRow() + 4 * x;
        bottom[2] = 255, top[0] = 255;
        bottom[3] = top[3] = 0;  // the ignored byte: must not make the image transparent
    }
    uint8_t* corner = b->baseAddress() + 3 * b->bytesPerRow();
    corner[0] = 0, corner[1] = 255;
    return b;
}
}  // namespace

TEST(ZVImage, WrittenPNGOpensTheRightWayUpInAStandardTool) {
    if (!haveIdentify()) GTEST_SKIP() << "ImageMagick identify is not installed";
    zvtest::TempDir dir;
    auto image = screenLikeBuffer()->createRGBImageFromBufferData();
    const std::string path = dir.file("frame.png");
    ASSERT_TRUE(image->writePNG(path));
    EXPECT_EQ(run("identify -format '%m %w %h' " + path), "PNG 6 4");
    auto pixel = [&](int x, int y) {
        const std::string p = "p{" + std::to_string(x) + "," + std::to_string(y) + "}.";
        std::string format;
        for (const char* c : {"r", "g", "b", "a"})
            format += std::string(*c == 'r' ? "" : ",") + "%[fx:int(255*" + p + c + ")]";
        return run("identify -format '" + format + "' " + path);
    };
    EXPECT_EQ(pixel(0, 0), "0,255,0,255");  // the green corner is at the top-left
    EXPECT_EQ(pixel(5, 0), "0,0,255,255");  // top row blue
    EXPECT_EQ(pixel(5, 3), "255,0,0,255");  // bottom row red
}

// Opaque pictures written and read back are in the snapshot command's end-to-end test.
TEST(ZVImage, PNGRoundTripOfStraightAlpha) {
    zvtest::TempDir dir;
    // Straight alpha: opaque and fully transparent pixels come back exactly, the colour of
    // a half-transparent one within one step.
    const uint8_t rgba[] = {10, 20, 30, 255, 0, 0, 0, 0, 200, 100, 50, 128, 1, 2, 3, 255};
    auto art = ZVImage::create(2, 2, ZVImage::Format::RGBA, rgba, 8);
    ASSERT_TRUE(art->writePNG(dir.file("b.png")));
    auto artBack = ZVImage::readPNG(dir.file("b.png"));
    ASSERT_TRUE(artBack);
    EXPECT_EQ(artBack->rgbaAt(0, 0), (std::array<uint8_t, 4>{10, 20, 30, 255}));
    EXPECT_EQ(artBack->rgbaAt(1, 0)[3], 0);
    EXPECT_EQ(artBack->rgbaAt(1, 1), (std::array<uint8_t, 4>{1, 2, 3, 255}));
    auto half = artBack->rgbaAt(0, 1);
    EXPECT_EQ(half[3], 128);
    EXPECT_NEAR(half[0], 200, 1);
    EXPECT_NEAR(half[1], 100, 1);
    EXPECT_NEAR(half[2], 50, 1);
}

TEST(ZVImage, BadFilesAndSizesGiveNothing) {
    zvtest::TempDir dir;
    { std::ofstream(dir.file("not.png")) << "plain text, not a picture"; }
    zvtest::LogCapture log;
    EXPECT_EQ(ZVImage::readPNG(dir.file("not.png")), nullptr);
    EXPECT_EQ(ZVImage::readPNG(dir.file("missing.png")), nullptr);
    const uint8_t truncated[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0};
    EXPECT_EQ(ZVImage::readPNGData(truncated, sizeof truncated), nullptr);
    EXPECT_EQ(ZVImage::readPNGData(nullptr, 0), nullptr);
    // A text chunk that claims 2 GB: refused before the decoder would allocate it.
    std::vector<uint8_t> claim(truncated, truncated + 8);
    const uint8_t header[] = {0, 0, 0, 13, 'I', 'H', 'D', 'R', 0,    0,    0,    4,   0,
                              0, 0, 3, 8,  2,   0,   0,   0,   0x3B, 0x96, 0x39, 0x91};
    const uint8_t text[] = {0x7F, 0xFF, 0xFF, 0xF0, 't', 'E', 'X', 't', 'a', 'b'};
    claim.insert(claim.end(), std::begin(header), std::end(header));
    claim.insert(claim.end(), std::begin(text), std::end(text));
    EXPECT_EQ(ZVImage::readPNGData(claim.data(), claim.size()), nullptr);
    // A header claiming a huge picture.
    std::vector<uint8_t> huge = claim;
    huge.resize(8 + 25);
    huge[16] = huge[20] = 0x40;
    EXPECT_EQ(ZVImage::readPNGData(huge.data(), huge.size()), nullptr);
    EXPECT_EQ(log.lines().size(), 6u);
    EXPECT_TRUE(log.contains("is too large"));
    EXPECT_TRUE(log.contains(dir.file("not.png")));

    const uint8_t px[4] = {};
    EXPECT_EQ(ZVImage::create(0, 1, ZVImage::Format::RGBA, px, 4), nullptr);
    EXPECT_EQ(ZVImage::create(2, 1, ZVImage::Format::RGBA, px, 4), nullptr);  // stride < 8
    auto one = ZVImage::create(1, 1, ZVImage::Format::BGRX, px, 4);
    EXPECT_FALSE(one->writePNG(dir.file("no/such/dir/x.png")));
}
