#include "Common/bsdprocess.h"

#include <dirent.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fstream>

bool isBSDProcessExists(const std::string& name) {
    DIR* proc = opendir("/proc");
    if (!proc) {
        std::fprintf(stderr, "Error: %d\n", errno);
        return false;
    }
    bool found = false;
    while (dirent* d = readdir(proc)) {
        if (!std::isdigit(static_cast<unsigned char>(d->d_name[0]))) continue;
        std::ifstream comm(std::string("/proc/") + d->d_name + "/comm");
        std::string command;
        // A process that ended between readdir and open simply has no entry.
        if (!comm || !std::getline(comm, command)) continue;
        if (command == name) {
            found = true;
            break;
        }
    }
    closedir(proc);
    return found;
}
