#pragma once
// Helpers of the capture-file tests: frames with recognisable pixels, a recording made
// through the real writing stage, and a file read back with the synchronous reader.
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Storage/ZVFomixFileReader.h"
#include "Storage/ZVFomixIO.h"
#include "ZorvanInternal.h"
#include "support/ZVTestSupport.h"

namespace zvtest {

using Bytes = std::vector<uint8_t>;

// Appends `v` as it lies in memory; reads a `T` at `at`; overwrites the word at `at`.
template <typename T>
void put(Bytes& b, T v) {
    const size_t at = b.size();
    b.resize(at + sizeof v);
    std::memcpy(b.data() + at, &v, sizeof v);
}
template <typename T>
T get(const Bytes& b, size_t at) {
    T v;
    std::memcpy(&v, b.data() + at, sizeof v);
    return v;
}
inline void setWord(Bytes& b, size_t at, uint32_t w) {
    std::memcpy(b.data() + at, &w, 4);
}

// A frame of width x height whose words are never zero: a background that stays the same
// and a band of `seed`-dependent words that moves with `seed`.
std::shared_ptr<ZVMovieFrame> patternFrame(int width, int height, uint32_t seed, double timestamp,
                                           int16_t frameFlags = 0);

// What the reader made of one record.
struct ReadFrame {
    uint64_t start = 0;  // where the record begins in the file
    ZVFrameInfo info;
    Bytes pixels;  // the canvas after the record
    bool hasKeyStrokes = false;
    Bytes keyStrokes;
    bool hasKeyText = false;
    std::string keyText;
};

struct ReadResult {
    bool accepted = false;
    ZVFomixFileInfo header;
    std::vector<ReadFrame> frames;
    ZVFomixStep last = ZVFomixStep::End;  // the step that ended the read
};

// Reads every record of `bytes` with the synchronous reader (as the fuzzers do); readFile
// has it read the file itself, through its read-ahead.
ReadResult readAll(const Bytes& bytes);
ReadResult readFile(const std::string& path);

// The file as a writer that never finished leaves it: the header still zero.
Bytes unfinished(Bytes file);

// Delegate that counts the stage's calls (main thread).
struct FomixDelegate : ZVFomixIODelegateInformalProtocol {
    int started = 0, stopped = 0;
    void ZVFomixIODidStart(ZVFomixIO*) override { ++started; }
    void ZVFomixIODidStop(ZVFomixIO*) override { ++stopped; }
};

// Writes `frames` through a writing stage (queued first, then finalize; `prepare` sets the
// stage up before it starts) and waits for its did-stop. Main thread.
std::shared_ptr<ZVFomixIO> recordFrames(const std::string& path,
                                        const std::vector<std::shared_ptr<ZVMovieFrame>>& frames,
                                        const std::function<void(ZVFomixIO&)>& prepare = {});

// The bytes of the file recordFrames makes of `frames`.
Bytes recordBytes(const std::vector<std::shared_ptr<ZVMovieFrame>>& frames);

// Starts `reader` (handing its frames to `out` when given), waits for its did-stop and
// returns how many did-starts came before it. Main thread.
int runReader(ZVFomixIO& reader, ZVDataDestination* out = nullptr);

}  // namespace zvtest
