// Every message of the audio subsystem, exactly as it is written: one table, so a
// spelling is never "corrected" by accident.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>

#include "ZVAudioTestUtil.h"
#include "ZVFakeOpenAL.h"
#include "ZorvanInternal.h"
#include "support/ZVStageHarness.h"
#include "support/ZVTestSupport.h"

using namespace zvaudiotest;

namespace {

std::atomic<int> gAllocationsLeft{0};
void* failAfterSome(size_t size) {
    return gAllocationsLeft-- > 0 ? std::malloc(size) : nullptr;
}

// A reader over a file of three packets' worth of data, into a queue; the allocator lets
// two packets through and then fails. A bad header has a format tag other than 1.
void readWithFailingAllocation(bool goodHeader) {
    zvtest::TempDir dir;
    writeBytes(dir.file("m.wav"), readerFile(0, 0, 0, 3 * 4096, goodHeader ? 1 : 3));
    ZVQueue queue;
    auto reader = ZVWavIO::wavIOForReading(dir.file("m.wav"));
    reader->setDataDestination(&queue);
    Posted stop(ZVWavIODidStopNotification, reader.get());
    gAllocationsLeft = goodHeader ? 2 : 1000;
    ZVSetSoundPacketAllocator(failAfterSome);
    reader->start();
    stop.wait();
    ZVSetSoundPacketAllocator(nullptr);
}

}  // namespace

TEST(ZVAudioMessages, ExactTexts) {
    zvtest::TempDir dir;
    struct Case {
        const char* what;
        std::function<void()> cause;
        std::string logLine;  // the whole line
    } cases[] = {
        {"ME-5, flags padded to two characters",
         [] {
             ZVSoundPacket::soundPacketWithFormat({2, 16, 44100, 4}, 0x40000001);
         },
         "ME-5: initWithFormat:numberOfFrames: failed with malloc error. Requested frames: "
         "1073741825. Format: 16bpc 2ch 44100.000000Hz 0x 4."},
        {"ME-5, two-digit flags",
         [] {
             ZVSoundPacket::soundPacketWithFormat({1, 24, 22050.5f, 0x14}, -3);
         },
         "ME-5: initWithFormat:numberOfFrames: failed with malloc error. Requested frames: -3. "
         "Format: 24bpc 1ch 22050.500000Hz 0x14."},
        {"a header that fails the reader's checks", [] { readWithFailingAllocation(false); },
         "Unsupported WAVE format."},
        {"no capture provider at all",
         [] {
             ZVPlatformServices none = ZVPlatformDefaults();
             none.capture = nullptr;
             EXPECT_FALSE(ZVSoundInputRecorder::initWithDevice("Virtual_Mic", none));
         },
         "Could not initialize input device: 0"},
        {"a device OpenAL refuses",
         [] {
             ZVFakeOpenAL al;
             al.opens = false;
             al.error = 0xA004;
             EXPECT_FALSE(ZVSoundInputRecorder::initWithDevice("Nothing Here", al.services()));
         },
         "Could not initialize input device: 40964"},
        {"a microphone unplugged while recording: its track ends, did-finish says why",
         [&] {
             ZVFakeOpenAL al;
             al.connected = false;
             std::string error;
             auto session =
                 ZVRecordingSession::create(dir.file("unplugged.fomixx"), &error, al.services());
             session->addTrack(std::make_unique<ZVMicrophoneTrack>("USB Mic"));
             ASSERT_EQ(session->prepare(), "");
             session->start();
             ASSERT_TRUE(zvtest::runMainUntil([&] { return !session->recorderFailure().empty(); }));
             EXPECT_EQ(session->stopAndWait(5),
                       "recording of \"USB Mic\" ended: the device was "
                       "disconnected after 0.000 s");
         },
         "ZVSoundInputRecorder: recording of \"USB Mic\" ended: the device was disconnected "
         "after 0.000 s"},
        {"a microphone that captures nothing holds the start back for 2 s at most",
         [&] {
             ZVFakeOpenAL al;
             std::string error;
             auto session =
                 ZVRecordingSession::create(dir.file("slow.fomixx"), &error, al.services());
             session->addTrack(std::make_unique<ZVMicrophoneTrack>("Slow Mic"));
             ASSERT_EQ(session->prepare(), "");
             EXPECT_EQ(session->waitingFor(), "'Slow Mic'");
             session->start();
             EXPECT_EQ(session->stopAndWait(5), "");
         },
         "ZVRecordingSession: 'Slow Mic' did not start within 2 s; recording without waiting "
         "longer"},
        {"a packet the reader cannot make", [] { readWithFailingAllocation(true); },
         "Failed to create packet. Objects in queue: 2"},
        {"objects that are not sound packets",
         [&] {
             ZVQueue queue;
             queue.addObject(std::make_shared<zvtest::Token>(1, 1));
             auto writer = ZVWavIO::wavIOForWriting(dir.file("t.wav"),
                                                    {2, 16, 44100, kZVSoundFormatSignedInteger});
             writer->setDataSource(&queue);
             Posted stop(ZVWavIODidStopNotification, writer.get());
             writer->start();
             zvtest::runMainUntil([&] { return writer->isRunning() || stop.seen(); });
             writer->finalize();
             EXPECT_TRUE(stop.wait());
         },
         "ZVWavIO: \"" + dir.file("t.wav") +
             "\": dropped queue objects that are not sound packets"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        zvtest::LogCapture log;
        zvtest::StderrCapture err;
        c.cause();
        auto lines = log.lines();
        EXPECT_NE(std::find(lines.begin(), lines.end(), c.logLine), lines.end())
            << "logged:\n"
            << ::testing::PrintToString(lines);
    }
    // A header that passes the reader's checks is read without that complaint.
    zvtest::LogCapture log;
    readWithFailingAllocation(true);
    EXPECT_FALSE(log.contains("Unsupported WAVE format."));
}

TEST(ZVAudioMessages, TheAllocationFailureReportOnStandardError) {
    zvtest::LogCapture log;
    zvtest::StderrCapture err;
    ZVSoundPacket::soundPacketWithFormat({2, 16, 44100, 4}, 0x7FFFFFFF);
    const std::string text = err.text();
    const size_t mem =
        text.find("\n*** System Memory Information ( ME-5 ) ***\n\nmemory page size: ");
    const size_t disk = text.find("*** Disk info ***\n");
    ASSERT_NE(mem, std::string::npos) << text;
    ASSERT_NE(disk, std::string::npos) << text;
    EXPECT_LT(mem, disk);  // the memory report first, then the disks
    EXPECT_NE(text.find("Filesystem", disk), std::string::npos) << text;  // df's own header
    EXPECT_EQ(text.substr(text.size() - 2), "\n\n");
    EXPECT_EQ(log.lines().size(), 1u);
}
