#pragma once
// The codec settings dialog on a terminal: a numbered list of the settings, changed one at a
// time by line-based answers, until "ok" or "cancel". Scripts may feed it from a pipe; input
// that ends first is an error (kZVDialogErrInputEnded), not a cancel.
#include <cstdio>
#include <optional>
#include <string>

#include "Media/ZVSettingsDialog.h"

class ZVTerminalSettingsDialog : public ZVSettingsDialog {
  public:
    // Reads answers from `in`, writes the list and prompts to `out`; both stay the caller's.
    ZVTerminalSettingsDialog(FILE* in, FILE* out) : _in(in), _out(out) {}

    // One dialog at a time per pair of files. Any thread.
    long requestSettings(ZVCodecSettings& settings) override;

  private:
    bool readLine(const char* prompt, std::string& line);
    long run(ZVCodecSettings& s, bool video);
    void showVideo(const ZVCodecSettings& s);
    void showSound(const ZVCodecSettings& s);
    bool changeVideo(ZVCodecSettings& s, int item, const std::string& answer);
    bool changeSound(ZVCodecSettings& s, int item, const std::string& answer);

    FILE* _in;
    FILE* _out;
};

// Names the dialog and `zorvan preset show` use. "H.264", "AAC"; the four-character code
// when unknown. Any thread.
std::string ZVVideoCodecName(uint32_t codecType);
std::string ZVSoundFormatName(uint32_t formatID);
// The codec or format a user types ("h264", "aac"), as the dialog and `zorvan export` take them.
std::optional<uint32_t> ZVVideoCodecForKey(const std::string& key);
std::optional<uint32_t> ZVSoundFormatForKey(const std::string& key);
