// The capture file byte by byte: what the writer stores for the small examples, how the
// reader takes the other byte order, the earlier layout and unknown chunks, and how it
// ends on every kind of bad record without reading or writing outside a buffer.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "Storage/ZVFomixFileWriter.h"
#include "ZVFomixTestFiles.h"
#include "support/ZVTestSupport.h"

using namespace zvtest;

namespace {

Bytes header(int32_t signature, uint32_t frames, float w, float h, double duration = 1) {
    Bytes b;
    ZVFomixFileInfo info{signature, duration, frames, {w, h}, 0};
    put(b, info);
    return b;
}

ZVFrameInfo infoOf(float w, float h, uint32_t blocks, uint32_t dataSize, int16_t flags = 0,
                   double timestamp = 0.5) {
    ZVFrameInfo i{};
    i.blocks = blocks;
    i.dataSize = dataSize;
    i.dimensions = {w, h};
    i.timestamp = timestamp;
    i.frameFlags = flags;
    i.keyCode = -1;
    return i;
}

void chunk(Bytes& b, uint32_t tag, const Bytes& content) {
    put(b, tag);
    put(b, uint32_t(content.size()));
    for (uint8_t c : content) b.push_back(c);
}

Bytes block(uint32_t offset, std::initializer_list<uint32_t> words) {
    Bytes b;
    put(b, offset);
    put(b, uint32_t(words.size() * 4));
    for (uint32_t w : words) put(b, w);
    return b;
}

// One record through the file writer, with a plain 4 x 2 picture of stride 16.
struct Written {
    Bytes file;
    ZVFomixAppend outcome;
    ZVFomixEncoded encoded;
};
Written writeOne(const Bytes& pixels, const Bytes& reference, int16_t flags,
                 const Bytes* keys = nullptr, const std::string* text = nullptr) {
    TempDir dir;
    ZVFomixFileWriter writer;
    EXPECT_TRUE(writer.open(dir.file("f")));
    ZVFomixFrameInput in;
    in.pixels = pixels.data();
    in.reference = reference.data();
    in.bytesPerRow = 16;
    in.bufferSize = pixels.size();
    in.info = infoOf(4, float(pixels.size() / 16), 0, 0, flags);
    in.keyStrokes = keys;
    in.keyText = text;
    Written w;
    w.outcome = writer.append(in, w.encoded);
    writer.close();
    w.file = readBytes(dir.file("f"));
    return w;
}

TEST(ZVFomixFile, RecordLayoutAndChunks) {
    Bytes zero(32, 0), set(32);
    for (size_t o = 0; o < 32; o += 4) std::memcpy(set.data() + o, "\xFF\x00\x00\xFF", 4);

    // Header bytes stay zero until the writer finishes; the record follows them.
    Written w = writeOne(set, zero, 0);
    ASSERT_EQ(w.outcome, ZVFomixAppend::Written);
    ASSERT_EQ(w.file.size(), 28u + 44 + 48);
    EXPECT_EQ(Bytes(w.file.begin(), w.file.begin() + 28), Bytes(28, 0));
    EXPECT_EQ(get<uint32_t>(w.file, 28), 2u);   // blocks
    EXPECT_EQ(get<uint32_t>(w.file, 32), 48u);  // dataSize
    EXPECT_EQ(get<uint32_t>(w.file, 72), 0u);   // first block (0, 16)
    EXPECT_EQ(get<uint32_t>(w.file, 76), 16u);
    EXPECT_EQ(get<uint32_t>(w.file, 96), 16u);  // second block (16, 16)

    // Key strokes, a 5-byte text (chunk of 6 ending in zero) and the end chunk, in order.
    Bytes keys(16, 7);
    std::string text = "hello";
    w = writeOne(set, zero, kZVFrameHasKeyStrokes, &keys, &text);
    size_t at = 28 + 44;
    EXPECT_EQ(Bytes(w.file.begin() + at, w.file.begin() + at + 4), (Bytes{0x72, 0x74, 0x73, 0x6B}));
    EXPECT_EQ(get<uint32_t>(w.file, at + 4), 16u);
    at += 8 + 16;
    EXPECT_EQ(Bytes(w.file.begin() + at, w.file.begin() + at + 4), (Bytes{0x73, 0x74, 0x73, 0x6B}));
    EXPECT_EQ(get<uint32_t>(w.file, at + 4), 6u);
    EXPECT_EQ(w.file[at + 8 + 5], 0);
    at += 8 + 6;
    EXPECT_EQ(Bytes(w.file.begin() + at, w.file.begin() + at + 8),
              (Bytes{0x78, 0x64, 0x6E, 0x65, 0, 0, 0, 0}));
    EXPECT_EQ(w.file.size(), at + 8 + 48);

    // An identical frame: no blocks, an empty payload, the end chunk only, 0x80 cleared.
    w = writeOne(set, set, kZVFrameHasKeyStrokes | kZVFrameCompress);
    ASSERT_EQ(w.file.size(), 28u + 44 + 8);
    EXPECT_EQ(get<uint32_t>(w.file, 28), 0u);
    EXPECT_EQ(get<int16_t>(w.file, 28 + 38), kZVFrameHasKeyStrokes);
    EXPECT_EQ(get<uint32_t>(w.file, 72), kZVFomixEndTag);

    // (An all-black frame, and 0x80 without 0x20, are in ZVFomixIOTest's recording.)
}

TEST(ZVFomixFile, CompressedPayloadIsAZlibStreamThatZlibInflates) {
    Bytes ref(16 * 64, 0), pic(16 * 64);
    for (size_t o = 0; o < pic.size(); o += 4) std::memcpy(pic.data() + o, "\x10\x20\x30\xFF", 4);
    Written w = writeOne(pic, ref, kZVFrameHasKeyStrokes | kZVFrameCompress);
    ASSERT_EQ(w.outcome, ZVFomixAppend::Written);
    const uint32_t dataSize = get<uint32_t>(w.file, 32);
    EXPECT_EQ(dataSize, w.encoded.dataSize);
    ASSERT_EQ(get<int16_t>(w.file, 28 + 38), kZVFrameHasKeyStrokes | kZVFrameCompress);
    size_t at = 28 + 44;
    ASSERT_EQ(get<uint32_t>(w.file, at), kZVFomixCompressionTag);
    ASSERT_EQ(get<uint32_t>(w.file, at + 4), 4u);
    const uint32_t packed = get<uint32_t>(w.file, at + 8);
    EXPECT_LT(packed + 12, dataSize);
    at += 12;
    ASSERT_EQ(get<uint32_t>(w.file, at), kZVFomixEndTag);
    at += 8;
    ASSERT_EQ(w.file.size(), at + packed);
    Bytes inflated(dataSize);
    uLongf length = dataSize;
    ASSERT_EQ(uncompress(inflated.data(), &length, w.file.data() + at, packed), Z_OK);
    EXPECT_EQ(length, dataSize);
    // The inflated blocks rebuild the picture.
    Bytes canvas(pic.size(), 0);
    ASSERT_EQ(ZVFomixApplyBlocks(inflated.data(), dataSize, get<uint32_t>(w.file, 28),
                                 canvas.data(), 16, 4, canvas.size(), {}),
              ZVFomixApplyResult::Applied);
    EXPECT_EQ(canvas, pic);

    // (A picture that does not compress keeps its block data: ZVFomixIOTest.)
}

// The same file as a machine of the other byte order would have written it: every field
// of the header and the records reversed in place (the header's last word is never
// swapped), key-stroke entries word by word, the key text as it is.
Bytes otherByteOrder(Bytes b) {
    size_t at = 0;
    auto fields = [&](std::initializer_list<size_t> sizes) {
        for (size_t n : sizes) {
            std::reverse(b.begin() + at, b.begin() + at + n);
            at += n;
        }
    };
    auto words = [&](size_t length) {
        const size_t end = at + length;
        while (at < end) fields({4});
    };
    fields({4, 8, 4, 4, 4});
    at += 4;
    while (at < b.size()) {
        const ZVFrameInfo info = get<ZVFrameInfo>(b, at);
        EXPECT_FALSE(info.frameFlags & kZVFrameCompress)
            << "the twin is made of uncompressed files";
        fields({4, 4, 4, 4, 4, 4, 4, 8, 2, 2, 4});
        for (uint32_t tag = 0;
             (info.frameFlags & kZVFrameHasKeyStrokes) && tag != kZVFomixEndTag;) {
            tag = get<uint32_t>(b, at);
            const uint32_t length = get<uint32_t>(b, at + 4);
            words(8);
            if (tag == kZVFomixKeyStrokesTag)
                words(length);
            else
                at += length;
        }
        words(info.dataSize);  // offsets, lengths and pixels are all words
    }
    return b;
}

TEST(ZVFomixFile, OtherByteOrderReadsToTheSamePictures) {
    std::vector<std::shared_ptr<ZVMovieFrame>> frames;
    for (int i = 0; i < 4; ++i) {
        auto f = patternFrame(37, 9, uint32_t(i + 1), 0.1 * i, i % 2 ? kZVFrameHasKeyStrokes : 0);
        Bytes keys;
        put(keys, ZVKeyStroke{0x100000, 12});
        put(keys, ZVKeyStroke{0, int32_t(i)});
        f->setKeyStrokes(keys);
        f->setKeyStrokesString("ab" + std::to_string(i));
        frames.push_back(f);
    }
    Bytes native = recordBytes(frames);
    Bytes other = otherByteOrder(native);
    EXPECT_EQ(Bytes(other.begin(), other.begin() + 4), (Bytes{0x2C, 0x1A, 0x7F, 0x5F}));

    ReadResult a = readAll(native), b = readAll(other);
    ASSERT_TRUE(b.accepted);
    EXPECT_EQ(0, std::memcmp(&a.header.duration, &b.header.duration, 24));
    ASSERT_EQ(a.frames.size(), 4u);
    ASSERT_EQ(b.frames.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(a.frames[i].pixels, b.frames[i].pixels);
        EXPECT_EQ(0, std::memcmp(&a.frames[i].info, &b.frames[i].info, 44));
        EXPECT_EQ(a.frames[i].keyText, b.frames[i].keyText);
        EXPECT_EQ(a.frames[i].keyStrokes, b.frames[i].keyStrokes);
    }
    EXPECT_EQ(a.frames[1].keyText, "ab1");
}

TEST(ZVFomixFile, ReaderStepsOverUnknownChunksAndTakesAnyOrder) {
    Bytes f = header(kZVFomixSignature, 2, 4, 2);
    Bytes data = block(4, {0xFF112233, 0xFF445566});
    put(f, infoOf(4, 2, 1, uint32_t(data.size()), kZVFrameHasKeyStrokes));
    chunk(f, kZVFomixKeyTextTag, {'x', 'y', 0});
    chunk(f, 0x41424344, Bytes(300 << 10, 0xEE));  // longer than the file reader reads ahead
    chunk(f, kZVFomixKeyStrokesTag, Bytes(8, 1));
    chunk(f, kZVFomixEndTag, {});
    f.insert(f.end(), data.begin(), data.end());
    // A text in the five-byte form, which UTF-8 no longer has, is no text.
    put(f, infoOf(4, 2, 0, 0, kZVFrameHasKeyStrokes));
    chunk(f, kZVFomixKeyTextTag, {0xF8, 0x88, 0x80, 0x80, 0x80, 0x80, 0});
    chunk(f, kZVFomixEndTag, {});
    TempDir dir;
    writeBytes(dir.file("f"), f);
    for (const ReadResult& r : {readAll(f), readFile(dir.file("f"))}) {
        ASSERT_EQ(r.frames.size(), 2u);
        EXPECT_EQ(r.last, ZVFomixStep::End);
        EXPECT_EQ(r.frames[0].keyText, "xy");
        EXPECT_EQ(r.frames[0].keyStrokes, Bytes(8, 1));
        EXPECT_EQ(get<uint32_t>(r.frames[0].pixels, 8), 0xFF445566u);
        EXPECT_FALSE(r.frames[1].hasKeyText);
    }
}

TEST(ZVFomixFile, BadRecordsEndTheReadInOrder) {
    auto withRecord = [](ZVFrameInfo info, const Bytes& rest, uint32_t frames = 1) {
        Bytes f = header(kZVFomixSignature, frames, 4, 2);
        put(f, info);
        f.insert(f.end(), rest.begin(), rest.end());
        return f;
    };
    const uint32_t canvas = uint32_t(ZVPixelBytesPerRow(4)) * 2;
    const int16_t packed = kZVFrameHasKeyStrokes | kZVFrameCompress;
    Bytes longChunk;  // longer than the rest of the file
    put(longChunk, kZVFomixKeyStrokesTag);
    put(longChunk, uint32_t(0x7FFFFFFF));
    Bytes badStream, tooLong, noLength;
    chunk(badStream, kZVFomixCompressionTag, {4, 0, 0, 0});
    chunk(badStream, kZVFomixEndTag, {});
    put(badStream, uint32_t(0xDEADBEEF));
    chunk(tooLong, kZVFomixCompressionTag, {0xE8, 3, 0, 0});  // no zlib stream of 12 is that long
    chunk(tooLong, kZVFomixEndTag, {});
    tooLong.resize(tooLong.size() + 1000);
    chunk(noLength, kZVFomixEndTag, {});
    const Bytes far = block(canvas, {1}), one = block(0, {1});
    const struct {
        const char* what;
        ZVFrameInfo info;
        Bytes rest;
        ZVFomixStep last;
    } rows[] = {
        // Refused before anything is allocated.
        {"too much block data", infoOf(4, 2, 1, 2 * canvas + 9), {}, ZVFomixStep::BadRecord},
        {"block data of 4 GiB", infoOf(4, 2, 1, 0xFFFFFFFF), {}, ZVFomixStep::BadRecord},
        {"chunk past the end", infoOf(4, 2, 0, 0, kZVFrameHasKeyStrokes), longChunk,
         ZVFomixStep::BadRecord},
        {"record of another size", infoOf(8, 2, 0, 0), {}, ZVFomixStep::BadRecord},
        {"payload short", infoOf(4, 2, 1, 16), Bytes(10, 0), ZVFomixStep::ShortPayload},
        {"offset past the canvas", infoOf(4, 2, 1, uint32_t(far.size())), far,
         ZVFomixStep::FailedFrame},
        {"blocks past their data", infoOf(4, 2, 2, uint32_t(one.size())), one,
         ZVFomixStep::FailedFrame},
        {"stream that does not inflate", infoOf(4, 2, 1, 12, packed), badStream,
         ZVFomixStep::FailedFrame},
        {"stream too long", infoOf(4, 2, 1, 12, packed), tooLong, ZVFomixStep::BadRecord},
        {"no stream length", infoOf(4, 2, 1, 12, packed), noLength, ZVFomixStep::BadRecord},
    };
    for (const auto& row : rows)
        EXPECT_EQ(readAll(withRecord(row.info, row.rest)).last, row.last) << row.what;
    // A header that counts more frames than the file holds: the read ends at the file's end.
    ReadResult r = readAll(withRecord(infoOf(4, 2, 0, 0), {}, 5));
    EXPECT_EQ(r.frames.size(), 1u);
    EXPECT_EQ(r.last, ZVFomixStep::End);
    // Header sizes nobody can make a canvas of.
    for (float side : {0.f, -1.f, 32769.f, 1e9f, std::nanf("")}) {
        Bytes f = header(kZVFomixSignature, 1, side, 2);
        ZVFomixFileReader reader;
        reader.openMemory(f.data(), f.size());
        ASSERT_TRUE(reader.readHeader());
        uint32_t w, h;
        EXPECT_FALSE(reader.canvasSize(w, h));
    }
}

}  // namespace
