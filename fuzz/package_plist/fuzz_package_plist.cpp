// Any bytes as a package's Info.plist: opening the package, looking its tracks up,
// describing it, adding a track and setting a property must never crash, and what the
// manager writes must read back. (A package of the earlier layout reads its fixed track
// list again, whatever was written, so only the current layout is checked for the value.)
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "Storage/ZVFomixXDescription.h"
#include "Storage/ZVFomixXManager.h"
#include "ZVFuzzScratch.h"

namespace {

// One package for the whole run, on a memory file system where one exists: every input
// rewrites its Info.plist, and the atomic write syncs to disk.
const std::string& packagePath() {
    static const std::string path = [] {
        std::string p = zvFuzzScratchDir() + "/fuzz.fomixx";
        mkdir(p.c_str(), 0755);
        return p;
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& package = packagePath();
    const std::string info = package + "/Info.plist";
    FILE* f = fopen(info.c_str(), "wb");
    if (!f) abort();
    if (size > 0 && fwrite(data, 1, size, f) != size) abort();
    fclose(f);

    auto m = ZVFomixXManager::initWithFile(package);
    if (!m->exists() || !m->isPackage()) abort();
    for (int k = 0; k <= 4; ++k) {
        auto kind = static_cast<ZVFomixXResource>(k);
        m->pathForResource(kind);
        m->propertiesForResource(kind);
        m->startOffsetTime(kind);
    }
    (void)ZVDescribeFomixX(*m);

    bool readable = m->infoError().empty();
    bool earlier = m->isEarlierLayout();
    auto added = m->createPathForPackageResource(ZVFomixXResourceCursors);
    // Nothing is ever written over an unreadable Info.plist. (A readable one may still
    // refuse a track, for instance when its listed paths are not plain file names.)
    if (!readable && added) abort();
    m->setStartOffsetTime(0.5, ZVFomixXResourceCursors);
    if (readable && added) {
        auto again = ZVFomixXManager::initWithFile(package);
        if (!again->infoError().empty() || again->isEarlierLayout() != earlier) abort();
        if (!earlier && again->startOffsetTime(ZVFomixXResourceCursors) != 0.5) abort();
    }
    return 0;
}
