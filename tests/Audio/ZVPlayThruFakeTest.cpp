// The play-through handshake and copies made deterministic: a fake audio layer whose
// streams never call back on their own, so the test drives both IO procedures by hand
// (while switching off waits on another thread). The real streams are tested on PulseAudio.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "ZorvanInternal.h"
#include "support/ZVTestSupport.h"

namespace {
constexpr uint32_t kSpeakers = 1, kLoopback = 2;

class FakeStream : public ZVAudioStream {
  public:
    explicit FakeStream(std::atomic<int>* starts) : _starts(starts) {}
    bool start() override { return ++*_starts, true; }
    void stop() override {}

  private:
    std::atomic<int>* _starts;
};

class FakeHardware : public ZVAudioHardware {
  public:
    std::optional<std::vector<ZVAudioDevice>> devices(bool input, std::string*) override {
        if (input) return std::vector<ZVAudioDevice>{};
        return std::vector<ZVAudioDevice>{
            {kSpeakers, "Speakers", defaultOutput == kSpeakers, {}, -1},
            {kLoopback, ZVSystemSoundSupport::kDeviceName, defaultOutput == kLoopback, {}, -1}};
    }
    bool setDefaultOutputDevice(uint32_t id, std::string*) override {
        defaultOutput = id;
        return true;
    }
    std::unique_ptr<ZVAudioStream> openStream(uint32_t, bool, ZVAudioIOProc, void*,
                                              std::string*) override {
        return std::make_unique<FakeStream>(&starts);
    }
    std::atomic<uint32_t> defaultOutput{kSpeakers};
    std::atomic<int> starts{0};
};

std::vector<uint8_t> bytes(size_t n, uint8_t value) {
    return std::vector<uint8_t>(n, value);
}
}  // namespace

TEST(PlayThru, HandshakeCopiesAndBoundedWaits) {
    zvtest::TempDir home;
    setenv("XDG_DATA_HOME", home.path().c_str(), 1);
    setenv("XDG_STATE_HOME", home.path().c_str(), 1);
    std::filesystem::create_directories(ZVSystemSoundSupport::installedDriverPath());
    auto hw = std::make_shared<FakeHardware>();
    ZVPlatformServices services = ZVPlatformDefaults();
    services.audioHardware = hw;
    ZVSystemSoundSupport::preparePlayThru(services);
    auto s = ZVSystemSoundSupport::sharedSystemSoundSupport(services);
    ASSERT_TRUE(s);

    auto in = [&](std::vector<uint8_t> b) {
        ZVAudioIOBuffer buffer{b.data(), b.size()};
        s->inputProc(kLoopback, 0, &buffer, 0, nullptr, 0);
    };
    auto out = [&](size_t n) {  // what the output procedure left in a buffer of 0xAA
        std::vector<uint8_t> b = bytes(n, 0xAA);
        ZVAudioIOBuffer buffer{b.data(), b.size()};
        s->outputProc(kSpeakers, 0, nullptr, 0, &buffer, 0);
        return b;
    };
    // Switching on returns once both streams started, before either answered.
    in(bytes(8, 0x55));  // left over from before: switching on throws it away
    s->setPlayThru(0);
    EXPECT_EQ(s->lastError(), "");
    EXPECT_EQ(hw->starts.load(), 2);
    EXPECT_EQ(s->inputState(), 0);
    EXPECT_EQ(out(16), bytes(16, 0xAA));  // the output waits for the input
    EXPECT_EQ(s->outputState(), 0);
    in(bytes(32, 0x11));
    EXPECT_EQ(s->inputState(), 1);
    EXPECT_EQ(out(16), bytes(16, 0xAA));  // becomes running, copies nothing yet
    EXPECT_EQ(s->outputState(), 1);
    EXPECT_EQ(hw->defaultOutput.load(), kLoopback);
    in(bytes(8, 0x22));
    EXPECT_EQ(out(16), bytes(16, 0x11));  // a longer block is cut to the buffer
    std::vector<uint8_t> shorter = bytes(8, 0x22);
    shorter.resize(16, 0xAA);
    EXPECT_EQ(out(16), shorter);          // a shorter one fills its own length
    EXPECT_EQ(out(16), bytes(16, 0xAA));  // nothing queued: left as handed over

    s->setPlayThru(2);
    EXPECT_EQ(s->inputState(), 1);
    // Switching off waits in a thread of its own while the test drives the procedures.
    std::thread off([&] { s->setPlayThru(1); });
    while (s->outputState() != 2) std::this_thread::yield();
    in(bytes(8, 0x33));
    out(16);
    off.join();
    EXPECT_EQ(s->lastError(), "");
    EXPECT_EQ(s->inputState(), 3);
    EXPECT_EQ(s->outputState(), 3);
    EXPECT_EQ(hw->defaultOutput.load(), kSpeakers);

    // A loopback device that never answers is said when switching off, at once.
    s->setPlayThru(0);
    EXPECT_EQ(s->lastError(), "");
    s->setPlayThru(1);
    EXPECT_EQ(s->lastError(), "the loopback device never answered");
    EXPECT_EQ(hw->defaultOutput.load(), kSpeakers);
    s.reset();
}
