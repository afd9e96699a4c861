#pragma once
#include "ZVPrivate.h"  // library-internal

// What tests and benchmarks reach that a host never needs: ways to put a fake behind a
// platform service or to make a failure path happen on purpose. Not part of the public
// interface (Zorvan.h does not include it).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "Common/vmstat.h"

class ZVDisplayServer;

// Installs `server` in place of the platform's (nullptr: the platform's again, made on
// next use). Any thread.
void ZVSetSharedDisplayServer(std::shared_ptr<ZVDisplayServer> server);

// Where sound-packet buffers come from: malloc, unless a test installs one that fails on
// purpose to reach the failure paths. It must answer memory that free() releases, or
// nullptr; nullptr installs malloc again. Not while packets are being made on other
// threads.
using ZVSoundPacketAllocator = void* (*)(size_t);
void ZVSetSoundPacketAllocator(ZVSoundPacketAllocator allocator);

// Where the statistics come from. The default reads /proc/meminfo and /proc/vmstat; tests
// install a source of known numbers (nullopt: the statistics cannot be read). An empty
// function restores the default. Not for use while other threads read statistics.
using ZVVMStatisticsSource = std::function<std::optional<ZVVMStatistics>()>;
void ZVSetVMStatisticsSource(ZVVMStatisticsSource source, uint32_t pageSize = 0);
