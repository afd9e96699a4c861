// zorvan frame: one picture of a capture file as a PNG file.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ZVCommand.h"
#include "Zorvan.h"

namespace {
const char* kName = "frame";

int run(const std::vector<std::string>& args) {
    std::string capture, out, index;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o" && i + 1 < args.size())
            out = args[++i];
        else if (capture.empty())
            capture = args[i];
        else if (index.empty())
            index = args[i];
        else
            return ZVCommandFail(kName, "unexpected argument '" + args[i] + "' (see --help)");
    }
    if (capture.empty() || index.empty() || out.empty())
        return ZVCommandFail(kName, "expects CAPTURE N -o OUT.png (see --help)");
    char* end = nullptr;
    errno = 0;
    const unsigned long long n = std::strtoull(index.c_str(), &end, 10);
    if (errno || *end || index[0] == '-' || n > 0xFFFFFFFFull)
        return ZVCommandFail(kName,
                             "N must be a whole number from 0 to 4294967295, not '" + index + "'");
    struct stat st;
    if (stat(capture.c_str(), &st) != 0)
        return ZVCommandFail(kName, capture + ": " + std::strerror(errno));
    if (auto problem = ZVCommandOutputProblem(out)) return ZVCommandFail(kName, *problem);
    std::shared_ptr<ZVImage> image;
    try {
        image = ZVFomixIO::imageAtIndex(static_cast<uint32_t>(n), capture);
    } catch (const ZVException& e) {
        return ZVCommandFail(kName, capture + ": " + e.reason());
    }
    if (!image)
        return ZVCommandFail(kName, capture + ": a record before record " + index +
                                        " cannot be applied, or the picture size cannot be read");
    if (!image->writePNG(out)) {
        // A picture cut short (a full disk) is no picture: none is left behind.
        std::remove(out.c_str());
        return ZVCommandFail(kName, ZVCommandWriteFailure(out));
    }
    return 0;
}

const ZVCommand::Registration reg(
    {kName, "write the picture after N records of a capture file as PNG",
     "usage: zorvan frame CAPTURE N -o OUT.png\n\n"
     "Writes the picture that the first N frame records of the capture file build (N = 0\n"
     "gives the empty picture, N beyond the last record the last picture), top row first.\n"
     "A file cut off inside a record gives the picture before that record.\n",
     run});
}  // namespace
