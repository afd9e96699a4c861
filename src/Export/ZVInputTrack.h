#pragma once
#include "ZVPrivate.h"  // library-internal

// Makes a recording's movie text (Media/ZVMovieText.h) from its frame records: the key
// strip's text, sample for sample as the compressor shows it (the same ZVKeyStripTimeline
// run over the same records with the same intervals), and a chapter at every click and
// at every key typed with Control, Option or Command, named as the strip names it.
//
// A value used by one thread at a time.
#include <cstdint>
#include <string>
#include <vector>

#include "Export/ZVKeyStripTimeline.h"
#include "Export/ZVRecordedInput.h"
#include "Media/ZVMovieText.h"

class ZVInputTrack {
  public:
    // For a recording whose pictures are `size`. Any thread.
    explicit ZVInputTrack(ZVSize size) : _width(int32_t(size.width)) {}

    // Takes the next record in recording order: its info, its key-stroke entries and its
    // key text (nullptr for a record without them). Owner only.
    void addRecord(const ZVFrameInfo& info, const std::vector<uint8_t>* keyStrokes,
                   const std::string* keyText);
    // Ends the text shown last where the recording ends: the last record's time plus the
    // interval before it, as the compressor lets the last picture last. The clicks'
    // chapters come from `input`, made of the same records. Owner only.
    ZVMovieText finish(const ZVRecordedInput& input);

  private:
    void show(double time, std::string text);

    ZVKeyStripTimeline _strip;
    int32_t _width;
    ZVMovieText _text;
    std::string _shown;  // the text of the open sample; empty when none is open
    double _shownSince = 0;
    double _previous = 0, _interval = 0;
    bool _any = false;
    int16_t _previousKey = -1;
};
