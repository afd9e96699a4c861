#pragma once
// A scratch folder for fuzz targets that must hand their input over as a file: one for the
// whole run, on a memory file system where one exists, so millions of runs do not wear
// the disk.
#include <stdlib.h>

#include <string>

inline const std::string& zvFuzzScratchDir() {
    static const std::string dir = [] {
        char shm[] = "/dev/shm/zvfuzz-XXXXXX";
        char tmp[] = "/tmp/zvfuzz-XXXXXX";
        const char* made = mkdtemp(shm);
        if (!made) made = mkdtemp(tmp);
        if (!made) abort();
        return std::string(made);
    }();
    return dir;
}
