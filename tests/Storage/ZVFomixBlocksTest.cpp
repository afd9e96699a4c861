// The block codec on plain byte arrays: the exact blocks of the small examples (stride 16,
// no padding), and the fast encoder against a word-by-word model of the rule on padded
// pictures of every shape of change.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "Storage/ZVFomixBlocks.h"
#include "ZVFomixTestFiles.h"

namespace {

using zvtest::Bytes;
using zvtest::setWord;

struct Block {
    uint32_t offset, length;
    bool operator==(const Block&) const = default;
};

std::vector<Block> blocksOf(const Bytes& data, uint32_t count) {
    std::vector<Block> out;
    size_t pos = 0;
    for (uint32_t i = 0; i < count; ++i) {
        Block b;
        std::memcpy(&b.offset, data.data() + pos, 4);
        std::memcpy(&b.length, data.data() + pos + 4, 4);
        out.push_back(b);
        pos += 8 + b.length;
    }
    EXPECT_EQ(pos, data.size());
    return out;
}

struct Encoded {
    ZVFomixEncoded result;
    Bytes data;
};

Encoded encode(const Bytes& frame, const Bytes& reference, size_t stride) {
    Encoded e;
    e.data.resize(ZVFomixMaxBlockDataSize(frame.size()));
    e.result =
        ZVFomixEncodeBlocks(frame.data(), reference.data(), stride, frame.size(), e.data.data());
    e.data.resize(e.result.dataSize);
    return e;
}

// One block of `length` bytes of `fill`.
Bytes block(uint32_t offset, uint32_t length, uint8_t fill) {
    Bytes b(8 + length, fill);
    setWord(b, 0, offset);
    setWord(b, 4, length);
    return b;
}

// The rule word by word, as the file format states it, with the end-of-buffer cut.
Bytes modelEncode(const Bytes& f, const Bytes& r, size_t stride, uint32_t& blocks) {
    Bytes out;
    blocks = 0;
    size_t n = f.size() & ~size_t(3), s = 0, len = 0;
    auto emit = [&] {
        size_t l = std::min(len, n - s);
        uint32_t o32 = uint32_t(s), l32 = uint32_t(l);
        out.insert(out.end(), (uint8_t*)&o32, (uint8_t*)&o32 + 4);
        out.insert(out.end(), (uint8_t*)&l32, (uint8_t*)&l32 + 4);
        out.insert(out.end(), f.begin() + s, f.begin() + s + l);
        ++blocks;
        len = 0;
    };
    for (size_t o = 0; o < n; o += 4) {
        uint32_t c, p;
        std::memcpy(&c, f.data() + o, 4);
        std::memcpy(&p, r.data() + o, 4);
        size_t e = (s / stride + 1) * stride;
        if (c != p && len < e - s) {
            if (len == 0) {
                s = o;
                len = 8;
            } else {
                len += 4;
            }
        } else if (len > 0) {
            emit();
        }
    }
    if (len > 0) emit();
    return out;
}

// Two rows of 4 pixels, stride 16, no padding. (A first frame of all set pixels, one block
// per row, is in ZVFomixFileTest.)
TEST(ZVFomixBlocks, ChangedPixelsMakeBlocksThatTakeTheNextWord) {
    const Bytes ref(32, 0x11);
    const struct {
        const char* what;
        std::vector<size_t> changed;  // byte offsets of changed words
        std::vector<Block> blocks;
    } rows[] = {
        {"middle of row 0", {4}, {{4, 8}}},
        {"last column of row 0: covers row 1's first pixel", {12}, {{12, 8}}},
        {"inside the first block already: opens no run", {12, 16, 20}, {{12, 8}, {20, 8}}},
        {"the buffer's last word: the block may not pass the end", {28}, {{28, 4}}},
    };
    for (const auto& row : rows) {
        Bytes frame = ref;
        for (size_t at : row.changed) setWord(frame, at, 0xDEADBEEF);
        Encoded e = encode(frame, ref, 16);
        // blocksOf also checks that the blocks fill the data size exactly.
        EXPECT_EQ(blocksOf(e.data, e.result.blocks), row.blocks) << row.what;
    }
}

// A failed screen read (all zero) is found however little of the frame is set, and wherever.
// The frame lies in a larger zeroed buffer, so a scan that strays past its end reads zero.
TEST(ZVFomixBlocks, AllZeroMeansNoByteIsSet) {
    const size_t size = 68;  // whole 8-byte steps and a last word
    const Bytes reference(size + 16, 0);
    Bytes out(ZVFomixMaxBlockDataSize(size));
    for (size_t at = 0; at <= size; ++at) {
        Bytes frame(size + 16, 0);
        if (at < size) frame[at] = 1;
        const ZVFomixEncoded e =
            ZVFomixEncodeBlocks(frame.data(), reference.data(), 16, size, out.data());
        EXPECT_EQ(e.allZero, at == size) << "byte " << at;
    }
}

TEST(ZVFomixBlocks, FastEncoderMatchesTheWordRuleOnPaddedPictures) {
    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        const size_t width = 1 + rng() % 70, height = 1 + rng() % 9;
        const size_t stride = (width * 4 + 63) / 64 * 64;
        Bytes ref(stride * height), frame;
        for (auto& b : ref) b = uint8_t(rng());
        frame = ref;
        // Runs of every length, at row ends, in padding, at the buffer's end.
        const int runs = rng() % 12;
        for (int i = 0; i < runs; ++i) {
            size_t at = (rng() % (ref.size() / 4)) * 4;
            size_t len = (rng() % 4 == 0) ? (rng() % (stride / 4 * 2) + 1) : (rng() % 5 + 1);
            for (size_t k = 0; k < len && at + 4 * k < frame.size(); ++k)
                setWord(frame, at + 4 * k, uint32_t(rng()) | 1);
        }
        if (rng() % 5 == 0) setWord(frame, frame.size() - 4, 0xABCDEF01);
        uint32_t modelBlocks = 0;
        Bytes model = modelEncode(frame, ref, stride, modelBlocks);
        Encoded e = encode(frame, ref, stride);
        ASSERT_EQ(e.result.blocks, modelBlocks) << "round " << round;
        ASSERT_EQ(e.data, model) << "round " << round;
        ASSERT_LE(e.data.size(), ZVFomixMaxBlockDataSize(frame.size()));

        // The same pictures as a screen read leaves them, top line first in memory (a
        // negative stride) and the fourth bytes anything: stored as the opaque ones were.
        auto opaque = [&](Bytes b, bool scramble) {
            for (size_t o = 3; o < b.size(); o += 4)
                if (o % stride < 4 * width) b[o] = scramble ? uint8_t(rng()) : 0xFF;
            return b;
        };
        auto topDown = [&](const Bytes& b) {
            Bytes m(b.size());
            for (size_t r = 0; r < height; ++r)
                std::memcpy(m.data() + (height - 1 - r) * stride, b.data() + r * stride, stride);
            return opaque(m, true);
        };
        const Bytes fm = topDown(frame), rm = topDown(ref);
        const size_t last = (height - 1) * stride;
        const int64_t up = -int64_t(stride);
        Bytes read(ZVFomixMaxBlockDataSize(frame.size()));
        read.resize(ZVFomixEncodeRows({fm.data() + last, up, ZVFomixOpaqueAlpha()},
                                      {rm.data() + last, up, ZVFomixOpaqueAlpha()}, stride, width,
                                      frame.size(), read.data())
                        .dataSize);
        ASSERT_EQ(read, modelEncode(opaque(frame, false), opaque(ref, false), stride, modelBlocks))
            << "round " << round;

        // Applying the blocks to the reference gives the frame back.
        Bytes canvas = ref;
        ASSERT_EQ(ZVFomixApplyBlocks(e.data.data(), e.data.size(), e.result.blocks, canvas.data(),
                                     stride, width, canvas.size(), {}),
                  ZVFomixApplyResult::Applied);
        ASSERT_EQ(canvas, frame) << "round " << round;
    }
}

// Compared only where the damage says: where it covers every change, the blocks are those
// of the whole comparison byte for byte; a change it leaves out is not stored. Patching the
// reference with the blocks, rows bottom-up in memory, gives the picture the file holds.
TEST(ZVFomixBlocks, DamageLimitsTheComparisonAndNothingElse) {
    std::mt19937 rng(11);
    auto pick = [&](size_t n) { return int(rng() % n); };
    for (int round = 0; round < 300; ++round) {
        const int width = 1 + pick(70), height = 1 + pick(9);
        const size_t stride = (width * 4 + 63) / 64 * 64;
        Bytes ref(stride * height), canvas(ref.size());
        for (auto& b : ref) b = uint8_t(rng());
        Bytes covered = ref, frame;
        ZVDamage damage;
        for (int i = pick(5); i >= 0; --i) {
            const ZVDamageRect r{pick(width), pick(height), 1 + pick(width), 1 + pick(3)};
            damage.push_back(r);
            for (int y = r.y; y < std::min(r.y + r.height, height); ++y)
                for (int x = r.x; x < std::min(r.x + r.width, width); ++x)
                    if (i % 2 == 0 && pick(4)) setWord(covered, y * stride + x * 4, rng() | 1);
        }
        frame = covered;
        // A change the damage leaves out, right after the last rectangle's first row (where
        // a block ends on the word after its run).
        const ZVDamageRect& last = damage.back();
        const int at = last.y * width + std::min(last.x + last.width, width);
        const int x = at % width, y = std::min(at / width, height - 1);
        if (std::none_of(damage.begin(), damage.end(), [&](const ZVDamageRect& r) {
                return x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height;
            }))
            setWord(frame, y * stride + x * 4, ~rng() | 2);
        Bytes out(ZVFomixMaxBlockDataSize(frame.size()));
        const int64_t step = int64_t(stride);
        const ZVFomixEncoded e =
            ZVFomixEncodeRows({frame.data(), step, 0}, {ref.data(), step, 0}, stride, width,
                              frame.size(), out.data(), &damage);
        out.resize(e.dataSize);
        ASSERT_EQ(out, encode(covered, ref, stride).data) << "round " << round;
        for (int r = 0; r < height; ++r)
            std::memcpy(&canvas[(height - 1 - r) * stride], &ref[r * stride], stride);
        ZVFomixPatchRows(out.data(), e.blocks, &canvas[(height - 1) * stride], -step, stride);
        for (int r = 0; r < height; ++r)
            ASSERT_EQ(0,
                      std::memcmp(&canvas[(height - 1 - r) * stride], &covered[r * stride], stride))
                << "round " << round;
    }
}

// Frames whose colours stay and whose fourth bytes (left as the screen gave them) change
// record nothing; a black screen is a picture, not a failed read; stored pixels are opaque.
TEST(ZVFomixBlocks, TheFourthBytesOfAScreenReadAreNeitherComparedNorStored) {
    const uint32_t alpha = ZVFomixOpaqueAlpha();
    Bytes ref(32, 0), frame(32, 0), out(ZVFomixMaxBlockDataSize(32));
    for (size_t o = 3; o < 32; o += 4) frame[o] = uint8_t(o);
    auto encode = [&] {
        return ZVFomixEncodeRows({frame.data(), 16, alpha}, {ref.data(), 16, alpha}, 16, 4, 32,
                                 out.data());
    };
    ZVFomixEncoded e = encode();
    EXPECT_EQ(e.blocks, 0u);
    EXPECT_FALSE(e.allZero);
    setWord(frame, 4, 0x00123456);
    e = encode();
    ASSERT_EQ(blocksOf(Bytes(out.begin(), out.begin() + e.dataSize), e.blocks),
              (std::vector<Block>{{4, 8}}));
    uint32_t stored[2];
    std::memcpy(stored, out.data() + 8, 8);
    EXPECT_EQ(stored[0], 0x00123456u | alpha);
    EXPECT_EQ(stored[1], alpha);
}

TEST(ZVFomixBlocks, WorstCaseStaysWithinTheBound) {
    const size_t stride = 64, height = 5;
    Bytes ref(stride * height, 0), frame(stride * height, 0);
    for (size_t o = 0; o < frame.size(); o += 8) setWord(frame, o, 1);  // every other word
    Encoded e = encode(frame, ref, stride);
    EXPECT_LE(e.data.size(), ZVFomixMaxBlockDataSize(frame.size()));
    EXPECT_EQ(e.result.blocks, frame.size() / 8);
}

TEST(ZVFomixBlocks, ApplyStaysInsideTheCanvas) {
    Bytes canvas(32, 0);
    // Starts inside, runs past the end: cut at the end.
    Bytes d = block(24, 16, 0xAB);
    EXPECT_EQ(ZVFomixApplyBlocks(d.data(), d.size(), 1, canvas.data(), 16, 4, 32, {}),
              ZVFomixApplyResult::Applied);
    EXPECT_EQ(canvas[31], 0xAB);
    EXPECT_EQ(canvas[23], 0);
    // A length beyond the data. (An offset past the canvas and more blocks than data are
    // read through whole records in ZVFomixFileTest.)
    EXPECT_EQ(ZVFomixApplyBlocks(d.data(), d.size() - 1, 1, canvas.data(), 16, 4, 32, {}),
              ZVFomixApplyResult::ShortData);
}

// (The other byte order is read through whole files in ZVFomixFileTest.)
TEST(ZVFomixBlocks, EarlierLayoutMapsUnpaddedRowsOntoTheStride) {
    // Width 100, canvas stride 416: offset 800 (row 2 of unpadded 400-byte rows) lands
    // at 832.
    const size_t stride = 416, width = 100;
    Bytes canvas(stride * 3, 0);
    Bytes d = block(800, 4, 0);
    setWord(d, 8, 0x11223344);
    ZVFomixBlockLayout earlier;
    earlier.unpaddedWidth = 100;
    ASSERT_EQ(ZVFomixApplyBlocks(d.data(), d.size(), 1, canvas.data(), stride, width, canvas.size(),
                                 earlier),
              ZVFomixApplyResult::Applied);
    uint32_t w;
    std::memcpy(&w, canvas.data() + 832, 4);
    EXPECT_EQ(w, 0x11223344u);
}

}  // namespace
