// The recording session's rules on fake tracks: the order of the steps, pause, a stop
// that never blocks its caller, a writer that never answers, a writer that fails, and
// tracks (with their queues) kept until the writers are gone, and each track's entry kept
// in Info.plist while recording.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "Session/ZVRecordingSession.h"
#include "Session/ZVWriterWatch.h"
#include "Storage/ZVFomixXManager.h"
#include "support/ZVTestSupport.h"

namespace {

// A track whose writer does what the test scripts; every step goes into a shared log.
class FakeTrack : public ZVRecordingTrack {
  public:
    FakeTrack(std::string name, std::vector<std::string>& log)
        : _name(std::move(name)), _log(log) {}
    ~FakeTrack() override { destroyed->store(true); }

    std::string name() const override { return _name; }
    std::string prepare(ZVFomixXManager& package, const ZVPlatformServices&) override {
        if (offset.load() >= 0) package.createPathForPackageResource(ZVFomixXResourceVideo);
        return step("prepare"), prepareError;
    }
    void startAtTime(double) override { step("start"); }
    void resume() override { step("resume"); }
    void pause(bool paused) override { step(paused ? "pause" : "unpause"); }
    void stopRecorder() override { step("stopRecorder"); }
    bool writerStarted() const override { return started.load(); }
    void finalizeWriter() override {
        // Finalizing before did-start would be lost: the session must not.
        finalizedEarly = !started.load();
        finalized = true;
        if (drainsOnFinalize) stopped = true;
    }
    bool writerStopped() const override { return stopped.load(); }
    std::string writerFailure() const override { return failure; }
    std::string recorderFailure() const override { return lost; }
    std::pair<ZVFomixXResource, ZVValue> entry() const override {
        ZVValue values = ZVValue::dict();
        if (offset.load() >= 0) values.set("StartOffsetTime", offset.load());
        return {ZVFomixXResourceVideo, values};
    }
    std::string store(ZVFomixXManager&) override { return step("store"), std::string(); }
    std::string status(double) const override { return _name; }

    std::atomic<bool> started{true};
    std::atomic<bool> stopped{false};
    std::atomic<bool> finalized{false};
    std::atomic<bool> finalizedEarly{false};
    bool drainsOnFinalize = true;
    std::string prepareError;
    std::string failure;  // set before stopped
    std::string lost;     // the recorder's reason; set before start
    // The entry's start offset; a track given one before prepare is listed in the package.
    std::atomic<double> offset{-1};
    std::shared_ptr<std::atomic<bool>> destroyed = std::make_shared<std::atomic<bool>>(false);

  private:
    // The main thread's steps, then the stop thread's store (the hand-off orders them);
    // otherwise the stop thread touches only the atomics.
    void step(const std::string& what) { _log.push_back(_name + " " + what); }
    std::string _name;
    std::vector<std::string>& _log;
};

class RecordingSessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        session = ZVRecordingSession::create(dir.file("take.fomixx"), &error);
        ASSERT_NE(session, nullptr) << error;
        session->setWriterTimeouts(0.3, 0.3);
        auto s = std::make_unique<FakeTrack>("screen", log);
        auto m = std::make_unique<FakeTrack>("microphone", log);
        screen = s.get();
        mic = m.get();
        session->addTrack(std::move(s));
        session->addTrack(std::move(m));
        ZVNotificationCenter::defaultCenter().addObserver(
            this, ZVRecordingSessionDidFinishNotification, session.get(),
            [this](const ZVNotification& n) { finishInfo.push_back(n.userInfo); });
    }
    void TearDown() override { ZVNotificationCenter::defaultCenter().removeObserver(this); }

    zvtest::TempDir dir;
    std::vector<std::string> log;
    std::vector<ZVValue> finishInfo;
    std::shared_ptr<ZVRecordingSession> session;
    FakeTrack* screen = nullptr;
    FakeTrack* mic = nullptr;
};

TEST_F(RecordingSessionTest, RunsTheStepsInOrderAndStopsWithoutBlocking) {
    screen->started = false;  // the writer's did-start comes late
    mic->drainsOnFinalize = false;
    ASSERT_EQ(session->prepare(), "");
    session->start();
    session->pause(true);
    session->pause(true);  // already paused: nothing
    session->pause(false);
    session->requestStop();  // returns although no writer can finish yet
    session->requestStop();
    EXPECT_FALSE(session->isFinished());
    screen->started = true;
    ASSERT_TRUE(zvtest::runMainUntil([&] { return mic->finalized.load(); }));
    EXPECT_FALSE(screen->finalizedEarly.load());
    EXPECT_FALSE(session->isFinished());
    mic->stopped = true;
    ASSERT_TRUE(zvtest::runMainUntil([&] { return session->isFinished(); }));
    EXPECT_EQ(log, (std::vector<std::string>{
                       "screen prepare", "microphone prepare", "screen start", "microphone start",
                       "screen resume", "microphone resume", "screen pause", "microphone pause",
                       "screen unpause", "microphone unpause", "screen stopRecorder",
                       "microphone stopRecorder", "screen store", "microphone store"}));
    ASSERT_EQ(finishInfo.size(), 1u);
    EXPECT_EQ(finishInfo[0].get("Error"), nullptr);
    EXPECT_EQ(session->stopAndWait(1), "");
}

// Each message the session makes, met through what a host does; did-finish carries it.
TEST_F(RecordingSessionTest, Messages) {
    struct Row {
        std::function<std::string()> run;
        std::string message;
    };
    const Row rows[] = {
        {[this] {
             screen->started = false;  // never answers; finalized anyway after its time
             return session->stopAndWait(5);
         },
         "screen: the writer did not start"},
        {[this] {
             mic->drainsOnFinalize = false;
             return session->stopAndWait(5);
         },
         "microphone: the writer did not finish its queue"},
        {[this] {
             mic->stopped = true;  // on its own, saying nothing
             std::string line = session->writerFailure();
             session->stopAndWait(5);
             return line;
         },
         "microphone: the writer stopped before the recording ended"},
    };
    for (const Row& row : rows) {
        TearDown();  // a new session with new tracks
        finishInfo.clear();
        log.clear();
        SetUp();
        ASSERT_EQ(session->prepare(), "");
        session->start();
        EXPECT_EQ(row.run(), row.message);
        EXPECT_TRUE(screen->finalized.load());
        if (row.message.find("stopped before") == std::string::npos) {
            ASSERT_EQ(finishInfo.size(), 1u);
            EXPECT_EQ(finishInfo[0].get("Error")->stringValue(), row.message);
        }
    }
}

TEST_F(RecordingSessionTest, CarriesTheFailingTracksReason) {
    // Both recorders lost their devices; the microphone's writer failed too, which outranks
    // its recorder's reason. did-finish's "Error" is the first failing track's.
    screen->lost = "recording of \"screen\" ended: the device was disconnected";
    mic->lost = "recording of \"microphone\" ended: the device was disconnected";
    ASSERT_EQ(session->prepare(), "");
    session->start();
    EXPECT_EQ(session->recorderFailure(), screen->lost);
    EXPECT_EQ(session->writerFailure(), "");  // lost devices do not end the recording
    mic->failure = "the audio file audio.wav could not be written";
    mic->stopped = true;  // failed on its own while recording
    EXPECT_EQ(session->writerFailure(), mic->failure);
    EXPECT_EQ(session->stopAndWait(5), screen->lost);
    EXPECT_EQ(finishInfo.at(0).get("Error")->stringValue(), screen->lost);
    const ZVValue* tracks = finishInfo[0].get("Tracks");
    ASSERT_NE(tracks, nullptr);
    EXPECT_EQ(tracks->size(), 2u);
    EXPECT_EQ(tracks->get("microphone")->stringValue(), mic->failure);
    EXPECT_EQ(tracks->get("screen")->stringValue(), screen->lost);
}

TEST_F(RecordingSessionTest, KeepsTheTracksUntilTheWritersAreGone) {
    session->setWriterTimeouts(0.3, 30);
    mic->drainsOnFinalize = false;
    ASSERT_EQ(session->prepare(), "");
    session->start();
    // stopAndWait gives up after its own timeout, whatever the writers' limits.
    EXPECT_EQ(session->stopAndWait(0.2), "the writers did not finish within 0.2 s");
    // The host lets go; the stop thread keeps the tracks (and their queues) until the
    // writer is gone and did-finish has run.
    auto destroyed = mic->destroyed;
    session.reset();
    EXPECT_FALSE(destroyed->load());
    mic->stopped = true;
    ASSERT_TRUE(zvtest::runMainUntil([&] { return destroyed->load(); }));
    EXPECT_EQ(finishInfo.size(), 1u);
}

TEST_F(RecordingSessionTest, AFailedPrepareKeepsOnlyThePreparedTracksAndLeavesNoPackage) {
    const std::string why = "cannot open the default input device for recording";
    mic->prepareError = why;
    auto destroyed = mic->destroyed;
    EXPECT_EQ(session->prepare(), why);
    EXPECT_TRUE(destroyed->load());  // it started no writer: nothing to stop or drain
    EXPECT_EQ(session->stopAndWait(5), "");
    EXPECT_EQ(log.back(), "screen store");
    EXPECT_FALSE(std::filesystem::exists(session->path()));  // nothing was recorded
}

TEST_F(RecordingSessionTest, KeepsEachTracksEntryInInfoPlistWhileRecording) {
    screen->offset = 0.125;
    ASSERT_EQ(session->prepare(), "");
    session->start();
    // What a crash would leave: the offset once it is known, and a changed one with the
    // next refresh (about a second later).
    auto onDisk = [&] {
        return ZVFomixXManager::initWithFile(dir.file("take.fomixx"))
            ->startOffsetTime(ZVFomixXResourceVideo)
            .value_or(-1);
    };
    EXPECT_TRUE(zvtest::eventually([&] { return onDisk() == 0.125; }, 2));
    screen->offset = 0.25;
    EXPECT_TRUE(zvtest::eventually([&] { return onDisk() == 0.25; }, 3));
    EXPECT_EQ(session->stopAndWait(), "");
}

TEST(WriterWatch, TakesTheReasonFromARealWritersDidStop) {
    zvtest::TempDir dir;
    ZVQueue queue;
    auto writer = ZVFomixIO::initWithFile(dir.file("missing/video.fomix"), ZVFomixIO::kWriteMode);
    writer->setDataSource(&queue);
    ZVWriterWatch watch;
    watch.watch(writer.get(), ZVFomixIODidStartNotification, ZVFomixIODidStopNotification);
    zvtest::LogCapture log;  // the writer logs its reason too
    writer->start();
    ASSERT_TRUE(zvtest::runMainUntil([&] { return watch.started(); }));
    writer->finalize();
    ASSERT_TRUE(zvtest::runMainUntil([&] { return watch.stopped(); }));
    EXPECT_EQ(watch.error(), writer->failureReason());
    EXPECT_NE(watch.error().find("Could not open capture file"), std::string::npos);
}

}  // namespace
