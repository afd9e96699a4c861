#pragma once
// What the recorder tests share: the frame records a recording destination keeps, and a
// scripted host.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "ZorvanInternal.h"
#include "support/ZVFakeDisplayServer.h"
#include "support/ZVStageHarness.h"

namespace zvtest {

struct FrameRecord {
    ZVFrameInfo info;
    std::vector<uint8_t> keyStrokes;
    int32_t pixelsWidth = 0;
    int32_t pixelsHeight = 0;
};

// What the recorder tests keep of a frame: its record, not its pixels, so long runs stay
// small. Set as a RecordingDestination's `keep`.
class KeptFrame : public ZVQueueObject {
  public:
    explicit KeptFrame(FrameRecord r) : record(std::move(r)) {}
    int64_t dataSize() const override { return 0; }
    const FrameRecord record;
};

// A capture-file writer of `path`, started, that takes its frames from `queue`.
inline std::shared_ptr<ZVFomixIO> startedWriter(const std::string& path, ZVQueue& queue) {
    auto writer = ZVFomixIO::initWithFile(path, ZVFomixIO::kWriteMode);
    writer->setDataSource(&queue);
    writer->start();
    return writer;
}

inline FrameRecord recordOf(const ZVMovieFrame& f) {
    return {f.info(), f.keyStrokes(), f.pixelsWidth(), f.pixelsHeight()};
}

inline ZVObjectRef keepFrameRecord(const ZVObjectRef& object) {
    auto frame = std::dynamic_pointer_cast<ZVMovieFrame>(object);
    return std::make_shared<KeptFrame>(frame ? recordOf(*frame) : FrameRecord{});
}

// The records of every frame a destination was given, whole frames or kept records.
inline std::vector<FrameRecord> frameRecords(RecordingDestination& d) {
    std::vector<FrameRecord> out;
    for (const auto& o : d.objects()) {
        if (auto k = std::dynamic_pointer_cast<KeptFrame>(o)) {
            out.push_back(k->record);
        } else if (auto f = std::dynamic_pointer_cast<ZVMovieFrame>(o)) {
            out.push_back(recordOf(*f));
        }
    }
    return out;
}

// A host that implements what the test gives it; the rest stays nullopt.
class ScriptedHost : public ZVHostApplication {
  public:
    std::optional<int64_t> keyCode;
    std::optional<uint32_t> flags;
    std::optional<bool> repeating;
    std::optional<std::vector<uint8_t>> keyStrokes;
    std::optional<int64_t> buttons;

    std::optional<int64_t> getKeyCode() override { return keyCode; }
    std::optional<uint32_t> getFlags() override { return flags; }
    std::optional<bool> isKeyRepeating() override { return repeating; }
    std::optional<std::vector<uint8_t>> getKeyStrokesStack() override { return keyStrokes; }
    std::optional<int64_t> getMouseButtonsState() override { return buttons; }
};

}  // namespace zvtest
