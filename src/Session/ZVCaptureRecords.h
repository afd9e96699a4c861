#pragma once
#include "ZVPrivate.h"  // library-internal

// A capture file's frame records read in order for what they say apart from the pixels
// (the pointer, buttons and keys), by whoever plans from them before an export.
#include <functional>
#include <string>

#include "Foundation/ZVGeometry.h"
#include "Storage/ZVFomixFileReader.h"

// Hands every whole record of the capture file at `path` to `each`, in order, after the
// picture size to `begin`; the blocks are applied to a scratch canvas that nobody looks
// at. `assumed` is the header of a file whose writer never finished (nullptr for a whole
// file). False when the file or its header cannot be read. Any thread.
bool ZVReadCaptureRecords(const std::string& path, const ZVFomixFileInfo* assumed,
                          const std::function<void(ZVSize)>& begin,
                          const std::function<void(const ZVFomixRecord&)>& each);
