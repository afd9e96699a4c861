#include "Common/vmstat.h"

#include "Common/vmstatSource.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

struct Source {
    ZVVMStatisticsSource fn;
    uint32_t pageSize = 0;
};
Source& source() {
    static auto* s = new Source;
    return *s;
}

uint32_t clamp32(uint64_t v) {
    return v > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(v);
}

std::optional<ZVVMStatistics> readProc() {
    std::ifstream meminfo("/proc/meminfo");
    if (!meminfo) return std::nullopt;
    const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    ZVVMStatistics s{};
    bool any = false;
    std::string key;
    uint64_t kb = 0;
    std::string line;
    while (std::getline(meminfo, line)) {
        std::istringstream ls(line);
        if (!(ls >> key >> kb)) continue;
        uint32_t pages = clamp32(kb * 1024 / page);
        if (key == "MemFree:")
            s.free_count = pages, any = true;
        else if (key == "Active:")
            s.active_count = pages;
        else if (key == "Inactive:")
            s.inactive_count = pages;
        else if (key == "Unevictable:")
            s.wire_count = pages;
    }
    if (!any) return std::nullopt;
    // Event counters exist only partly on Linux; those without a counterpart stay 0.
    std::ifstream vmstat("/proc/vmstat");
    uint64_t v = 0;
    while (vmstat >> key >> v) {
        if (key == "pgactivate")
            s.reactivations = clamp32(v);
        else if (key == "pgpgin")
            s.pageins = clamp32(v);
        else if (key == "pgpgout")
            s.pageouts = clamp32(v);
        else if (key == "pgfault")
            s.faults = clamp32(v);
    }
    return s;
}

}  // namespace

void ZVSetVMStatisticsSource(ZVVMStatisticsSource fn, uint32_t pageSize) {
    source().fn = std::move(fn);
    source().pageSize = pageSize;
}

ZVVMStatistics get_vm_stat() {
    auto s = source().fn ? source().fn() : readProc();
    if (!s) {
        std::fputs("Can't fetch vm statistics", stderr);
        return ZVVMStatistics{};
    }
    return *s;
}

uint32_t get_vm_page_size() {
    if (source().fn && source().pageSize) return source().pageSize;
    return static_cast<uint32_t>(sysconf(_SC_PAGESIZE));
}

uint32_t get_vm_free_memory() {
    return get_vm_stat().free_count;
}
uint32_t get_vm_active_memory() {
    return get_vm_stat().active_count;
}
uint32_t get_vm_inactive_memory() {
    return get_vm_stat().inactive_count;
}
uint32_t get_vm_wired_memory() {
    return get_vm_stat().wire_count;
}

uint32_t get_vm_total_memory() {
    ZVVMStatistics s = get_vm_stat();
    return s.free_count + s.active_count + s.inactive_count + s.wire_count;
}

int showMemInfo(const char* tag) {
    uint64_t page = get_vm_page_size();
    uint64_t freeBytes = uint64_t{get_vm_free_memory()} * page;
    uint64_t inactiveBytes = uint64_t{get_vm_inactive_memory()} * page;
    uint64_t wiredBytes = uint64_t{get_vm_wired_memory()} * page;
    uint64_t totalBytes = uint64_t{get_vm_total_memory()} * page;
    return std::fprintf(stderr,
                        "\n*** System Memory Information ( %s ) ***\n\n"
                        "memory page size: %llu bytes\n"
                        "     free memory: %llu Mb\n"
                        " inactive memory: %llu Mb\n"
                        "    wired memory: %llu Mb\n"
                        "    total memory: %llu Mb\n\n",
                        tag ? tag : "", static_cast<unsigned long long>(page),
                        static_cast<unsigned long long>(freeBytes >> 20),
                        static_cast<unsigned long long>(inactiveBytes >> 20),
                        static_cast<unsigned long long>(wiredBytes >> 20),
                        static_cast<unsigned long long>(totalBytes >> 20));
}
