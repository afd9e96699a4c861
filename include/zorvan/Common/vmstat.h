#pragma once
// Memory statistics, in pages, for sizing queue budgets and for failure reports.
// All functions read fresh numbers on each call, keep no state and may be called from
// any thread.
#include <cstdint>
#include <functional>
#include <optional>

struct ZVVMStatistics {
    uint32_t free_count;
    uint32_t active_count;
    uint32_t inactive_count;
    uint32_t wire_count;
    uint32_t zero_fill_count;
    uint32_t reactivations;
    uint32_t pageins;
    uint32_t pageouts;
    uint32_t faults;
    uint32_t cow_faults;
    uint32_t lookups;
    uint32_t hits;
    uint32_t purgeable_count;
    uint32_t purges;
    uint32_t speculative_count;
};
static_assert(sizeof(ZVVMStatistics) == 15 * 4);

// All zeros (after "Can't fetch vm statistics" on standard error) when unreadable.
ZVVMStatistics get_vm_stat();
uint32_t get_vm_page_size();
uint32_t get_vm_free_memory();
uint32_t get_vm_active_memory();
uint32_t get_vm_inactive_memory();
uint32_t get_vm_wired_memory();
// free + active + inactive + wired pages.
uint32_t get_vm_total_memory();

// Writes the memory report to standard error; returns what the write returned.
int showMemInfo(const char* tag);
