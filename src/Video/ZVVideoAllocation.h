#pragma once
#include "ZVPrivate.h"  // library-internal

// Heap blocks of the pixel and frame objects. They go through here so that a test can make
// the next allocations of its own thread fail and see the failure paths that a real
// shortage would take (a log line, nothing drawn, nothing flipped).
#include <cstddef>

// malloc, or nullptr when a failure was asked for. Free with free(). Any thread.
void* ZVVideoMalloc(size_t size);
// aligned_alloc (size must be a multiple of alignment), or nullptr when a failure was asked
// for. Free with free(). Any thread.
void* ZVVideoAlignedAlloc(size_t alignment, size_t size);
// A zero-filled, page-aligned block of System V shared memory that a display server can
// attach by `*id` and write into; it is marked for removal at once, so it goes when its last
// user detaches, even if the process dies. Where the system has no shared memory to give,
// plain zero-filled memory with *id = -1. nullptr when a failure was asked for. Free with
// ZVVideoSharedFree. Any thread.
void* ZVVideoSharedAlloc(size_t size, int* id);
// From now on ZVVideoSharedAlloc hands out shared memory; until then (a process that reads
// no screen through shared memory: an export, a test) it gives plain memory. A display
// server calls it once it knows it can attach segments, before it asks for a buffer. Any
// thread.
void ZVVideoUseSharedMemory();
// Lets go of a block of ZVVideoSharedAlloc. Any thread.
void ZVVideoSharedFree(void* memory, int id);
// Makes the next `count` allocations above fail on the calling thread only; 0 ends it.
// Tests only. Any thread.
void ZVVideoFailNextAllocations(int count);
