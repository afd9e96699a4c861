#pragma once
#include "ZVPrivate.h"  // library-internal

// The portal's restore tokens kept for the user, so that a second recording on the same
// desktop does not show the sharing dialog again. One file under the user's state folder
// ($XDG_STATE_HOME/zorvan/screencast-tokens), one line per kind of source asked for:
//
//   <source types> <desktop> <token>
//
// The desktop ($XDG_CURRENT_DESKTOP) is kept beside the token because a token means
// something only to the portal that issued it: one kept on another desktop is foreign
// there. Any thread.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

struct ZVKeptScreenCastToken {
    std::string desktop;  // $XDG_CURRENT_DESKTOP when it was kept ("-" when unset)
    std::string token;
};

class ZVScreenCastTokenFile {
  public:
    // The file in the user's state folder, read anew at every call.
    static std::string path();

    // The tokens of `text` by their source types; lines that are not three words with a
    // number first are skipped (a file of an older or newer version, or damaged). Any bytes
    // are accepted.
    static std::map<uint32_t, ZVKeptScreenCastToken> parse(std::string_view text);
    static std::string format(const std::map<uint32_t, ZVKeptScreenCastToken>& tokens);

    // The token kept for `sourceTypes`, nullopt without one.
    static std::optional<ZVKeptScreenCastToken> load(uint32_t sourceTypes);
    // Keeps `token` for `sourceTypes` (an empty token forgets it); false with *error (the
    // file and why) when it cannot be written.
    static bool store(uint32_t sourceTypes, const ZVKeptScreenCastToken& token, std::string* error);

    // The desktop as kept beside a token.
    static std::string currentDesktop();
};
