#pragma once
#include "ZVPrivate.h"  // library-internal

// Whether a movie file in a recording is whole: an export that was cut short (a crash, a
// full disk) leaves a file that ends inside one of its atoms, or one that never got its
// index ("moov"). Only the top-level atoms are walked; what they hold is the player's.
#include <cstdint>
#include <string>

// Empty when the file's top-level atoms fill it exactly and one is its index; otherwise
// what is wrong ("it ends inside its 'mdat' atom, 36 of 4096 bytes", "it has no index
// ('moov')", "not a movie"). Any thread.
std::string ZVMovieFileProblem(const std::string& path);
// The same for `size` bytes at `data` (what the file walk reads). Any thread.
std::string ZVMovieBytesProblem(const uint8_t* data, size_t size);
