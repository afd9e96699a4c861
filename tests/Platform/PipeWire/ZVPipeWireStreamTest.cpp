// The stream consumer and the Wayland display server on a real PipeWire daemon, fed by a
// source the test drives: the newest frame's pixels land bottom-up where they belong (also
// scaled from a HiDPI picture), a size change is followed, the cursor beside the frames
// gives position, hot spot, bitmap and serials, a source that goes away ends the stream
// with a reason, and a screen recorder over the display server records all of it, stored
// where the source said the picture changed (and whole once a second, so a change left
// unsaid is late but not lost).
#include <gtest/gtest.h>

#include <spa/buffer/buffer.h>

#include <cstring>
#include <thread>

#include "../../Export/ZVExportTestSupport.h"
#include "../../Video/ZVRecorderTestSupport.h"
#include "Platform/PipeWire/ZVPipeWireConnection.h"
#include "Platform/PipeWire/ZVPipeWireStream.h"
#include "Platform/PipeWire/ZVWaylandDisplayServer.h"
#include "support/ZVPipeWireFixture.h"
#include "support/ZVPipeWireProducer.h"

namespace {
using namespace std::chrono_literals;
using zvtest::ZVPipeWireProducer;

const auto* const gPipeWire = ::testing::AddGlobalTestEnvironment(new zvtest::ZVPipeWireFixture);

// Blue is the column, green the line (both mod 256), red tells the picture apart.
ZVPipeWireProducer::Pattern picture(uint32_t red) {
    return [red](int32_t x, int32_t y) {
        return uint32_t(x & 0xFF) | uint32_t(y & 0xFF) << 8 | red << 16;
    };
}
uint32_t opaque(uint32_t red, int32_t x, int32_t y) {
    return picture(red)(x, y) | 0xFF000000u;
}

uint32_t wordAt(const std::vector<uint8_t>& bytes, size_t stride, size_t row, size_t column) {
    uint32_t v;
    std::memcpy(&v, bytes.data() + row * stride + column * 4, 4);
    return v;
}

// A cursor bitmap of one colour (R, G, B, A bytes).
ZVPipeWireProducer::Cursor cursorAt(int32_t x, int32_t y, int32_t size, uint8_t red) {
    ZVPipeWireProducer::Cursor c;
    c.x = x, c.y = y, c.hotX = 2, c.hotY = 3, c.width = c.height = size;
    for (int32_t i = 0; i < size * size; ++i) c.rgba.insert(c.rgba.end(), {red, 0x20, 0x40, 0xFF});
    return c;
}

// Sends until the consumer's newest frame is this one: frames sent before the consumer
// was linked (or had its buffers after a size change) wait in the source's queue and come
// first, one per frame sent.
bool deliver(ZVPipeWireProducer& producer, ZVPipeWireStream& stream, uint32_t red,
             std::optional<ZVPipeWireProducer::Cursor> cursor = std::nullopt) {
    for (int attempt = 0; attempt < 40; ++attempt) {
        const uint64_t seen = stream.frameCount();
        producer.send(picture(red), cursor);
        uint32_t corner = 0;
        if (stream.waitForFrame(seen, 250ms) &&
            stream.readRect(ZVMakeRect(0, 0, 1, 1), 1, reinterpret_cast<uint8_t*>(&corner), 4, 1,
                            4) &&
            corner == opaque(red, 0, 0))
            return true;
    }
    return false;
}

struct Linked {
    std::unique_ptr<ZVPipeWireProducer> producer;
    std::shared_ptr<ZVPipeWireConnection> connection;
    std::unique_ptr<ZVPipeWireStream> stream;
};

Linked link(int32_t width, int32_t height, std::vector<uint64_t> dmaBufModifiers = {},
            bool sharedToo = true, bool streams = true) {
    Linked l;
    l.producer =
        std::make_unique<ZVPipeWireProducer>(width, height, std::move(dmaBufModifiers), sharedToo);
    std::string error;
    l.connection = ZVPipeWireConnection::connect(-1, &error);
    EXPECT_NE(l.connection, nullptr) << error;
    l.stream = ZVPipeWireStream::open(l.connection, l.producer->nodeId(), &error);
    EXPECT_NE(l.stream, nullptr) << error;
    EXPECT_EQ(l.producer->waitUntilStreaming(streams ? 10 : 2), streams);
    return l;
}

// DRM's codes of two layouts: rows one after another, and Intel's X tiles.
constexpr uint64_t kLinear = 0, kXTiled = 0x0100000000000001;

// In shared memory and in linear DMA-BUFs alike (memfds standing in for a GPU's: see
// ZVPipeWireProducer).
TEST(PipeWireStream, CopiesTheNewestFrameBottomUpScaledAndFollowsASizeChange) {
    for (const auto& [modifiers, memory] :
         {std::pair{std::vector<uint64_t>{}, SPA_DATA_MemFd},
          std::pair{std::vector<uint64_t>{kXTiled, kLinear}, SPA_DATA_DmaBuf}}) {
        SCOPED_TRACE(memory);
        Linked l = link(320, 240, modifiers);
        ASSERT_TRUE(l.stream);
        ASSERT_TRUE(deliver(*l.producer, *l.stream, 0x11));
        ASSERT_TRUE(deliver(*l.producer, *l.stream, 0x22));
        EXPECT_EQ(l.producer->bufferType(), memory);
        EXPECT_EQ(l.stream->pixelSize(), (std::pair<int32_t, int32_t>{320, 240}));
        EXPECT_EQ(l.stream->frameRate(), 60);

        // Rectangle line 0 (source line 20) is the top row; 0xFF replaces the X byte.
        const size_t stride = 64 * 4;
        std::vector<uint8_t> out(stride * 40, 0);
        ASSERT_TRUE(
            l.stream->readRect(ZVMakeRect(10, 20, 30, 40), 1, out.data(), stride, 40, stride));
        EXPECT_EQ(wordAt(out, stride, 39, 0), opaque(0x22, 10, 20));
        EXPECT_EQ(wordAt(out, stride, 0, 29), opaque(0x22, 39, 59));
        EXPECT_EQ(wordAt(out, stride, 0, 30), 0u);  // beyond the rectangle: untouched

        // Two pixels per unit: unit (i, j) shows the pixel under its middle.
        ASSERT_TRUE(
            l.stream->readRect(ZVMakeRect(5, 10, 20, 30), 2, out.data(), stride, 40, stride));
        EXPECT_EQ(wordAt(out, stride, 29, 0), opaque(0x22, 11, 21));
        EXPECT_EQ(wordAt(out, stride, 0, 19), opaque(0x22, 49, 79));

        l.producer->resize(200, 100);
        ASSERT_TRUE(l.producer->waitUntilStreaming());
        ASSERT_TRUE(deliver(*l.producer, *l.stream, 0x33));
        EXPECT_EQ(l.stream->pixelSize(), (std::pair<int32_t, int32_t>{200, 100}));
        // A rectangle reaching past the frame: only the part inside is written.
        std::fill(out.begin(), out.end(), 0);
        ASSERT_TRUE(
            l.stream->readRect(ZVMakeRect(180, 90, 30, 20), 1, out.data(), stride, 40, stride));
        EXPECT_EQ(wordAt(out, stride, 19, 0), opaque(0x33, 180, 90));
        EXPECT_EQ(wordAt(out, stride, 10, 19), opaque(0x33, 199, 99));
        EXPECT_EQ(wordAt(out, stride, 9, 0), 0u);
        EXPECT_EQ(wordAt(out, stride, 19, 20), 0u);
        auto whole = l.stream->image();
        ASSERT_TRUE(whole);
        EXPECT_EQ(whole->width, 200);
        size_t wrong = 0;
        for (int32_t y = 0; y < 100; ++y)
            for (int32_t x = 0; x < 200; ++x)
                wrong += wordAt(whole->pixels, whole->bytesPerRow, y, x) != opaque(0x33, x, y);
        EXPECT_EQ(wrong, 0u);
    }
}

// A producer that can make only a tiled layout is read through shared memory, or not at all.
TEST(PipeWireStream, ATiledDmaBufIsNeverRead) {
    for (bool sharedToo : {true, false}) {
        Linked l = link(160, 90, {kXTiled}, sharedToo, sharedToo);
        ASSERT_TRUE(l.stream);
        if (sharedToo) {
            EXPECT_TRUE(deliver(*l.producer, *l.stream, 0x66));
            EXPECT_EQ(l.producer->bufferType(), SPA_DATA_MemFd);
        } else {
            l.producer->send(picture(0x66));
            EXPECT_FALSE(l.stream->waitForFrame(0, 1s));
        }
    }
}

TEST(PipeWireStream, TheCursorBesideTheFramesKeepsItsSerialPerBitmap) {
    Linked l = link(160, 120);
    ASSERT_TRUE(l.stream);
    EXPECT_FALSE(l.stream->cursor().known);
    ASSERT_TRUE(deliver(*l.producer, *l.stream, 1, cursorAt(100, 50, 8, 0xC0)));
    auto c = l.stream->cursor();
    ASSERT_TRUE(c.known && c.visible && c.image);
    EXPECT_EQ(c.x, 100);
    EXPECT_EQ(c.y, 50);
    EXPECT_EQ(c.image->width, 8);
    EXPECT_EQ(c.image->hotX, 2);
    EXPECT_EQ(c.image->hotY, 3);
    const std::vector<uint8_t> bgra = {0x40, 0x20, 0xC0, 0xFF};
    EXPECT_TRUE(std::equal(bgra.begin(), bgra.end(), c.image->pixels.begin()));
    const uint32_t first = c.image->serial;

    // A move without a bitmap keeps the image; a new bitmap gets a new serial; the first
    // one coming back brings its serial back.
    auto moved = cursorAt(120, 60, 8, 0xC0);
    moved.rgba.clear();
    ASSERT_TRUE(deliver(*l.producer, *l.stream, 2, moved));
    EXPECT_EQ(l.stream->cursor().x, 120);
    EXPECT_EQ(l.stream->cursor().image->serial, first);
    ASSERT_TRUE(deliver(*l.producer, *l.stream, 3, cursorAt(120, 60, 16, 0x10)));
    const uint32_t second = l.stream->cursor().image->serial;
    EXPECT_NE(second, first);
    EXPECT_EQ(l.stream->cursor().image->width, 16);
    ASSERT_TRUE(deliver(*l.producer, *l.stream, 4, cursorAt(0, 0, 8, 0xC0)));
    EXPECT_EQ(l.stream->cursor().image->serial, first);
}

// A display server over `grant`, opened while the source sends (opening waits for the
// first frame).
std::shared_ptr<ZVWaylandDisplayServer> openedServer(const ZVScreenCastGrant& grant,
                                                     ZVPipeWireProducer& producer, int* opened) {
    auto server = std::make_shared<ZVWaylandDisplayServer>(
        [grant, opened](const ZVScreenCastRequest&, std::string*) {
            ++*opened;
            return std::optional<ZVScreenCastGrant>(grant);
        },
        ZVScreenCastRequest{});
    std::atomic<bool> opening{true};
    std::thread sender([&] {
        producer.waitUntilStreaming();
        while (opening) {
            producer.send(picture(0x44), cursorAt(30, 40, 8, 0x80));
            std::this_thread::sleep_for(20ms);
        }
    });
    server->unavailableReason();
    opening = false;
    sender.join();
    return server;
}

// A grant of the whole of `producer`'s picture as one monitor.
ZVScreenCastGrant monitorGrant(ZVPipeWireProducer& producer, uint32_t cursorMode) {
    ZVScreenCastGrant grant;
    grant.streams.push_back(ZVScreenCastStream{producer.nodeId(), "0", kZVSourceMonitor, {}, {}});
    grant.cursorMode = cursorMode;
    return grant;
}

TEST(WaylandDisplayServer, ARecorderOverTheGrantRecordsPixelsAndCursors) {
    auto producer = std::make_unique<ZVPipeWireProducer>(320, 200);
    int opened = 0;
    auto server = openedServer(monitorGrant(*producer, kZVCursorMetadata), *producer, &opened);
    const auto displays = server->displays();
    EXPECT_EQ(opened, 1);
    ASSERT_EQ(displays.size(), 1u);
    EXPECT_EQ(displays[0].frame, ZVMakeRect(0, 0, 320, 200));
    EXPECT_EQ(displays[0].refreshRate, 60);
    EXPECT_FALSE(server->cursorInFrames());

    auto recorder =
        ZVScreenRecorder::initWithRect(ZVMakeRect(10, 20, 100, 60), zvtest::withDisplay(server));
    ASSERT_NE(recorder, nullptr);
    zvtest::RecordingDestination log;
    recorder->setDataDestination(&log);
    recorder->setSuspended(false);
    ASSERT_EQ(recorder->displayLinkCallback(), 0);
    auto frame = std::dynamic_pointer_cast<ZVMovieFrame>(log.objects().back());
    ASSERT_TRUE(frame);
    // Wholly on one output at one pixel per unit: read straight in, the fourth byte left
    // (its pixels: TheFileStoresWhereTheSourceSaidThePictureChanged).
    EXPECT_TRUE(frame->alphaIgnored());
    ZVFrameInfo info = frame->info();
    EXPECT_EQ(info.mousePointerIndex, 0u);
    // Pointer at compositor (30, 40): desktop (30, 160), less the rectangle's origin.
    EXPECT_EQ(info.mousePointerLocation.x, 20);
    EXPECT_EQ(info.mousePointerLocation.y, 140);

    // A new bitmap: a second cursor in the list, named by the next frame.
    ASSERT_TRUE(zvtest::eventually([&] {
        producer->send(picture(0x55), cursorAt(60, 40, 12, 0x90));
        EXPECT_EQ(recorder->displayLinkCallback(), 0);
        auto f = std::dynamic_pointer_cast<ZVMovieFrame>(log.objects().back());
        return f->info().mousePointerIndex == 1u;
    }));
    const auto cursors = recorder->capturedCursors();
    ASSERT_EQ(cursors.size(), 2u);
    EXPECT_EQ(cursors[1].info.hotSpot.x, 2);
    EXPECT_EQ(cursors[1].data->at(2), 0x90);  // red of the first pixel, B G R A

    // The source goes away: a tick then stops the recorder with the reason.
    producer.reset();
    int32_t status = 0;
    ASSERT_TRUE(
        zvtest::eventually([&] { return (status = recorder->displayLinkCallback()) != 0; }, 10));
    EXPECT_EQ(status, ZVDisplayLink::kError);
    EXPECT_NE(recorder->failureReason().find("the screen cast stream ended: "), std::string::npos)
        << recorder->failureReason();
}

// A square moves and the source says where (the old square and the new): each picture of
// the capture file is the source's. A change the source leaves unsaid is not stored until
// a frame's damage covers it, so the damage is what the writer compared.
TEST(WaylandDisplayServer, TheFileStoresWhereTheSourceSaidThePictureChanged) {
    auto producer = std::make_unique<ZVPipeWireProducer>(320, 200);
    int opened = 0;
    auto server = openedServer(monitorGrant(*producer, kZVCursorEmbedded), *producer, &opened);
    ASSERT_EQ(server->unavailableReason(), "");
    const auto square = [](int k) { return ZVDamageRect{20 + 9 * k, 30 + 5 * k, 16, 16}; };
    const ZVDamageRect unsaid{200, 150, 8, 8};
    const auto in = [](const ZVDamageRect& r, int32_t x, int32_t y) {
        return x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height;
    };
    const auto scene = [&](int k, bool withUnsaid) -> ZVPipeWireProducer::Pattern {
        return [=](int32_t x, int32_t y) {
            if (withUnsaid && in(unsaid, x, y)) return 0xFFFFFFu;
            return in(square(k), x, y) ? 0xC0F000u | uint32_t(k) : picture(0x44)(x, y);
        };
    };
    zvtest::TempDir dir;
    const std::string path = dir.file("video.fomix");
    ZVQueue queue;
    auto writer = zvtest::startedWriter(path, queue);
    // Desktop (10, 20) up to 190 is the source's lines 10..179.
    auto recorder =
        ZVScreenRecorder::initWithRect(ZVMakeRect(10, 20, 300, 170), zvtest::withDisplay(server));
    ASSERT_NE(recorder, nullptr);
    recorder->setDataDestination(&queue);
    recorder->setSuspended(false);
    // Sends until the stream holds the picture (its pixel at `probe` tells), then ticks. The
    // source hands a frame on when it sends the next; one sent before the consumer took the
    // last would be lost on the way, so it waits a while between them.
    const auto tick = [&](const ZVPipeWireProducer::Pattern& p, const ZVDamage& damage,
                          const ZVDamageRect& probe) {
        ASSERT_TRUE(zvtest::eventually([&] {
            producer->send(p, std::nullopt, damage);
            return zvtest::eventually(
                [&] {
                    uint32_t v = 0;
                    return server->readDisplayRect(producer->nodeId(),
                                                   ZVMakeRect(probe.x, probe.y, 1, 1),
                                                   reinterpret_cast<uint8_t*>(&v), 4, 1, 4) &&
                           (v & 0xFFFFFF) == p(probe.x, probe.y);
                },
                0.04);
        }));
        ASSERT_EQ(recorder->displayLinkCallback(), 0);
    };
    constexpr int kSteps = 8;
    std::vector<ZVPipeWireProducer::Pattern> stored;
    for (int k = 0; k < kSteps; ++k) {
        tick(scene(k, false), {square(std::max(k - 1, 0)), square(k)}, square(k));
        stored.push_back(scene(k, false));
    }
    tick(scene(kSteps - 1, true), {square(kSteps - 1)}, unsaid);
    stored.push_back(scene(kSteps - 1, false));
    // A buffer lost on the way may have held the change: the next is compared whole.
    producer->skipNumber();
    tick(scene(kSteps, true), {square(kSteps - 1), square(kSteps)}, square(kSteps));
    stored.push_back(scene(kSteps, true));
    // Unsaid again, but a second after the last whole comparison the writer makes another.
    tick(scene(kSteps, false), {square(kSteps)}, unsaid);
    stored.push_back(scene(kSteps, true));
    std::this_thread::sleep_for(1100ms);
    tick(scene(kSteps, false), {square(kSteps)}, unsaid);
    stored.push_back(scene(kSteps, false));
    tick(scene(kSteps + 1, true), {square(kSteps), square(kSteps + 1), unsaid}, square(kSteps + 1));
    stored.push_back(scene(kSteps + 1, true));
    writer->finalize();
    ASSERT_TRUE(zvtest::eventually([&] { return writer->fileInfo().frames == stored.size(); }));
    for (size_t i = 0; i < stored.size(); ++i) {
        auto image = ZVFomixIO::imageAtIndex(uint32_t(i + 1), path);
        ASSERT_TRUE(image);
        int wrong = 0;
        for (int32_t y = 0; y < 170; ++y)
            for (int32_t x = 0; x < 300; ++x) {
                const uint32_t w = stored[i](x + 10, y + 10);  // B, G, R
                wrong += image->rgbaAt(x, y) !=
                         std::array<uint8_t, 4>{uint8_t(w >> 16), uint8_t(w >> 8), uint8_t(w), 255};
            }
        EXPECT_EQ(wrong, 0) << "picture " << i;
    }
}

// Records `rect` of `server` through a screen track into a new package in `dir` until it
// has `frames` frames, `feed` called between ticks; the package.
std::shared_ptr<ZVFomixXManager> recordPackage(std::shared_ptr<ZVWaylandDisplayServer> server,
                                               ZVRect rect, zvtest::TempDir& dir, int frames,
                                               const std::function<void()>& feed = {}) {
    auto package = ZVFomixXManager::initWithFile(dir.file("take.fomixx"));
    package->createFomixX();
    ZVScreenTrack track(rect, false);
    EXPECT_EQ(track.prepare(*package, zvtest::withDisplay(std::move(server))), "");
    track.startAtTime(ZVAbsoluteTimeGetCurrent());
    track.resume();
    EXPECT_TRUE(zvtest::runMainUntil([&] {
        if (feed) feed();
        return track.capturedFrames() >= frames;
    }));
    track.stopRecorder();
    track.finalizeWriter();
    EXPECT_TRUE(zvtest::runMainUntil([&] { return track.writerStopped(); }));
    EXPECT_EQ(track.store(*package), "");
    return package;
}

TEST(WaylandDisplayServer, AHiDPICastWithTheCursorInItsPixelsIsRecordedSo) {
    auto producer = std::make_unique<ZVPipeWireProducer>(320, 200);
    ZVScreenCastGrant grant;
    grant.streams.push_back(
        ZVScreenCastStream{producer->nodeId(), "", kZVSourceMonitor, {100, 50}, {160, 100}});
    grant.cursorMode = kZVCursorEmbedded;
    int opened = 0;
    auto server = openedServer(grant, *producer, &opened);
    ASSERT_EQ(server->unavailableReason(), "");
    EXPECT_EQ(server->displays().at(0).frame, ZVMakeRect(0, 0, 160, 100));
    EXPECT_TRUE(server->cursorInFrames());
    // A rectangle as users type it, in the compositor's space: 10 units in, 10 down.
    const ZVRect rect = server->desktopRectFromNative(ZVMakeRect(110, 60, 40, 30));
    EXPECT_EQ(rect, ZVMakeRect(10, 60, 40, 30));

    zvtest::TempDir dir;
    auto package = recordPackage(server, rect, dir, 3);
    const auto video = package->propertiesForResource(ZVFomixXResourceVideo);
    ASSERT_TRUE(video);
    EXPECT_TRUE(video->get(ZVScreenTrack::kCursorInFramesKey)->boolValue());
    EXPECT_EQ(video->get(ZVScreenTrack::kPixelScaleKey)->doubleValue(), 2);
}

// The cursor sent beside the frames is drawn by the export where it was, over pixels that
// never held it.
TEST(WaylandDisplayServer, TheExportDrawsACursorSentBesideTheFramesWhereItWas) {
    auto producer = std::make_unique<ZVPipeWireProducer>(320, 200);
    int opened = 0;
    auto server = openedServer(monitorGrant(*producer, kZVCursorMetadata), *producer, &opened);
    ASSERT_EQ(server->unavailableReason(), "");
    zvtest::TempDir dir;
    // A 16-pixel cursor with its hot spot (2, 3) at (100, 50): pixels 98..113 x 47..62.
    auto package = recordPackage(server, ZVMakeRect(0, 0, 320, 200), dir, 30, [&] {
        producer->send(picture(0x44), cursorAt(100, 50, 16, 0xC0));
    });
    std::string error;
    auto preset = ZVEncodingPreset::initWithName("test");
    auto session = ZVExportSession::create(package->path(), *preset, &error);
    ASSERT_TRUE(session) << error;
    ASSERT_EQ(session->start(), "");
    ASSERT_EQ(session->waitUntilFinished(120), "");
    const auto streams = zvtest::probeMovie(session->moviePath());
    ASSERT_FALSE(streams.empty());
    const std::string rgb = zvtest::frameAt(session->moviePath(), streams[0].duration - 0.05);
    ASSERT_EQ(rgb.size(), size_t(320 * 200 * 3));
    const auto red = [&](int x, int y) { return uint8_t(rgb[size_t(y * 320 + x) * 3]); };
    // Inside the cursor, away from its edges, where the codec blurs it into the background.
    EXPECT_NEAR(red(105, 55), 0xC0, 24) << "the cursor at its recorded place";
    EXPECT_NEAR(red(109, 58), 0xC0, 24);
    EXPECT_NEAR(red(92, 55), 0x44, 24) << "nothing left of it";
    EXPECT_NEAR(red(200, 150), 0x44, 24);
}

}  // namespace
