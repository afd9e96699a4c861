#pragma once
#include "ZVPrivate.h"  // library-internal

// Where get_vm_stat's numbers come from. The default reads /proc/meminfo and /proc/vmstat;
// tests install a source of known numbers (nullopt: the statistics cannot be read), so
// that the memory budget's decisions can be made to happen on purpose.
#include <cstdint>
#include <functional>
#include <optional>

#include "Common/vmstat.h"

// An empty function restores the default; `pageSize` 0 keeps the system's. Not for use
// while other threads read statistics.
using ZVVMStatisticsSource = std::function<std::optional<ZVVMStatistics>()>;
void ZVSetVMStatisticsSource(ZVVMStatisticsSource source, uint32_t pageSize = 0);
