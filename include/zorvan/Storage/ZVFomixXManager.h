#pragma once
// Names and keeps together the files of one recording. A recording is either a package (a
// directory "<name>.fomixx" with one file per track and an Info.plist that lists the
// tracks) or a plain capture file with its exported movie beside it. The manager decides
// which from the path, hands out fresh names for new track files, finds existing tracks,
// keeps per-track properties, moves the exported movie out of the package, measures the
// recording and moves it to the Trash.
//
// The object has no lock: it is used by one thread at a time (the host's).
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Foundation/ZVValue.h"
#include "Platform/ZVPlatformDefaults.h"

// The kind of a per-track operation; callers pass only these five.
enum ZVFomixXResource : int32_t {
    ZVFomixXResourceVideo = 0,        // "video", a capture file "video.fomix"
    ZVFomixXResourceAudio = 1,        // "audio", a WAV file "audio.wav"
    ZVFomixXResourceSystemAudio = 2,  // "systemaudio", a WAV file "systemaudio.wav"
    ZVFomixXResourceCursors = 3,      // "cursors", the cursor list "cursors.dat"
    ZVFomixXResourceMovie = 4,        // not a track: the exported "movie.mov"
};

class ZVFomixXManager {
  public:
    // The names that the package format is made of.
    static constexpr std::string_view kPackageExtension = "fomixx";
    static constexpr std::string_view kInfoFileName = "Info.plist";
    static constexpr std::string_view kVersionKey = "FomixX Version";
    static constexpr std::string_view kCurrentVersion = "1.1";
    static constexpr std::string_view kTracksKey = "Tracks";
    static constexpr std::string_view kNameKey = "Name";
    static constexpr std::string_view kTypeKey = "Type";
    static constexpr std::string_view kPathKey = "Path";
    static constexpr std::string_view kPlainMovieKey = "PlainMovie";
    static constexpr std::string_view kMovieFileName = "movie.mov";
    static constexpr std::string_view kMovieExtension = "mov";
    // The recorder's start offset (seconds, a real) that the recording host stores on a
    // track and export reads to line the tracks up.
    static constexpr std::string_view kStartOffsetTimeKey = "StartOffsetTime";

    // The track "Type" string of a kind and the extension of its new files; empty for the
    // movie and for kinds outside 0-4. Any thread.
    static std::string_view typeForResource(ZVFomixXResource kind);
    static std::string_view extensionForResource(ZVFomixXResource kind);

    // A manager for the recording at `path`: a directory, or a new path with the extension
    // "fomixx", is a package; anything else a plain capture file. An existing package's
    // Info.plist is loaded here; one of another version, or none, reads as the earlier
    // two-track layout. An Info.plist that cannot be read leaves the package without a
    // track list (see infoError()). Never nullptr. Any thread.
    static std::shared_ptr<ZVFomixXManager> initWithFile(const std::string& path);

    // Makes the recording exist: if it exists already, first switches to the first free
    // name "<base><suffix>.<ext>" (suffixes "-1", "-2", ...); a package directory is then
    // created with a fresh Info.plist, a plain recording is only marked as existing (its
    // writer creates the file). False, with the reason (strerror) in *error, when the package's
    // directory or its Info.plist cannot be made; a directory made for it is removed again
    // and exists() stays as it was. Any thread, one at a time.
    bool createFomixX(std::string* error = nullptr);
    // Moves the recording to the user's Trash (the services' Trash); afterwards exists() is
    // NO, and createFomixX can make it again at the same path. A failure is logged, never
    // reported. Any thread, one at a time.
    void removeFomixX(const ZVPlatformServices& services = ZVPlatformDefaults());
    bool exists() const { return _exists; }
    bool isPackage() const { return _package; }
    // The recording's path; it changes when createFomixX picks a fresh name. Any thread,
    // one at a time.
    const std::string& path() const { return _filePath; }

    // Registers a new track of that kind in Info.plist and returns its full path (the file
    // is not created); for the movie, "<package>/movie.mov", registering nothing. nullopt
    // unless the package exists and (for a track) its track list could be read. Any
    // thread, one at a time.
    std::optional<std::string> createPathForPackageResource(ZVFomixXResource kind);
    // Full path of the first listed track of that kind ("<package>/movie.mov" for the
    // movie); nullopt unless the package exists and lists one. Any thread, one at a time.
    std::optional<std::string> pathForPackageResource(ZVFomixXResource kind) const;
    // As pathForPackageResource for a package; for a plain recording the capture file is
    // the video and "PlainMovie" the movie; other kinds and recordings that do not exist
    // give nullopt. Any thread, one at a time.
    std::optional<std::string> pathForResource(ZVFomixXResource kind) const;
    // The first listed track dictionary of that kind; nullopt for the movie, for a plain
    // recording or one that does not exist. Any thread, one at a time.
    std::optional<ZVValue> propertiesForResource(ZVFomixXResource kind) const;
    // Sets key to value in the first listed track of that kind and rewrites Info.plist;
    // does nothing where propertiesForResource gives nullopt. Any thread, one at a time.
    void setPropertie(const std::string& key, ZVValue value, ZVFomixXResource kind);
    // The same for every key of the dictionary `values`, with one rewrite of Info.plist
    // (written beside and renamed into place, so a crash leaves the old list or the new
    // one). Any thread, one at a time.
    void setProperties(const ZVValue& values, ZVFomixXResource kind);

    // The recorder's start offset kept on the first track of that kind: set and read
    // "StartOffsetTime". Reading gives nullopt when there is no such track or the entry is
    // missing or no number. Any thread, one at a time.
    void setStartOffsetTime(double seconds, ZVFomixXResource kind);
    std::optional<double> startOffsetTime(ZVFomixXResource kind) const;

    // Moves "<package>/movie.mov" out to the first free "<base><suffix>.mov" beside the
    // package and returns that path; nullopt when the recording does not exist or there is
    // no movie. A plain recording's movie already sits beside it: its "PlainMovie" path.
    // Any thread, one at a time.
    std::optional<std::string> extractMovie();
    // The first free "<base>.mov" beside the recording now (where extractMovie would move
    // a package's movie). Any thread, one at a time.
    std::string movieDestination() const;
    // Bytes of the recording without movies: the capture file, or every file below the
    // package except those with the extension "mov" (Info.plist counts). 0 when it does
    // not exist. Any thread, one at a time.
    uint64_t fileSize() const;

    // Info.plist as held in memory (package mode), or {"PlainMovie": path} (plain mode).
    // Any thread, one at a time.
    const ZVValue& infoDictionary() const { return _infoDict; }
    // The "Tracks" array as held in memory; empty when there is none. Any thread, one at a
    // time.
    ZVValue::Array tracks() const;
    // Why the package's Info.plist could not be read (which file and what is wrong); empty
    // when it was read, absent, or not looked for. Any thread, one at a time.
    const std::string& infoError() const { return _infoError; }
    // True when the track list is that of the earlier layout (no Info.plist, or one of
    // another version). Any thread, one at a time.
    bool isEarlierLayout() const { return _earlierLayout; }

  private:
    ZVFomixXManager() = default;
    void loadInfo();
    // Rewrites Info.plist atomically; false (logged, "path: why" in *why) when it cannot.
    bool writeInfo(std::string* why = nullptr);
    std::string infoPath() const;
    // Index in "Tracks" of the first dictionary whose "Type" is the kind's; -1 for none.
    int firstTrackIndex(ZVFomixXResource kind) const;
    std::optional<std::string> trackFilePath(const ZVValue& track) const;

    std::string _filePath;
    ZVValue _infoDict = ZVValue::dict();
    bool _package = false;
    bool _exists = false;
    bool _earlierLayout = false;
    std::string _infoError;
};
