#pragma once
#include "ZVPrivate.h"  // library-internal

// One reading of a capture file's frame records for all that needs the whole recording
// before its movie starts: the pointer and the actions (the zoom plan, the cursor's path)
// and, when asked, the movie text (the key track and the chapters). The pixels are of no
// interest: the blocks are applied to a scratch canvas that nobody looks at.
//
// Thread context: read and the results on one thread at a time (the pass's reader, then
// whoever it hands them to); stop and recordsRead from any thread.
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "Export/ZVInputTrack.h"
#include "Export/ZVRecordedInput.h"
#include "Media/ZVMovieText.h"
#include "Storage/ZVFomixFormat.h"

class ZVInputPass {
  public:
    enum class Outcome {
        read,        // every whole record was read
        unreadable,  // the file or its header cannot be read
        stopped,     // stop() ended it
    };

    // Reads every whole record of the capture file at `path` in order; `assumed` is the
    // header of a file whose writer never finished (nullptr for a whole file); the movie
    // text is gathered as well `withText`. Reader's thread.
    Outcome read(const std::string& path, const ZVFomixFileInfo* assumed, bool withText);
    // Ends a reading at its next record, and any later one at once. Any thread.
    void stop() { _stop.store(true, std::memory_order_relaxed); }
    // The records read so far. Any thread.
    int64_t recordsRead() const { return _recordsRead.load(std::memory_order_relaxed); }

    // What the records gave (after a reading that read them): the pointer and the
    // actions; the movie text when it was asked for. Reader's thread, or the one it handed
    // the pass to.
    ZVRecordedInput& input() { return *_input; }
    std::optional<ZVMovieText> text() {
        return _text ? std::optional(_text->finish(*_input)) : std::nullopt;
    }

  private:
    std::atomic<bool> _stop{false};
    std::atomic<int64_t> _recordsRead{0};
    std::optional<ZVRecordedInput> _input;
    std::optional<ZVInputTrack> _text;
};
