#pragma once
#include "ZVPrivate.h"  // library-internal

// The cursor image and pointer position through XFixes and the core protocol.
#include <cstdint>
#include <optional>

#include "Video/ZVDisplayServer.h"

class ZVX11Connection;

// The cursor shown now, unpacked to straight-alpha B, G, R, A bytes; nullopt when XFixes
// is missing or the server refuses. Owning thread of `c`.
std::optional<ZVCursorImage> ZVX11GetCursorImage(ZVX11Connection& c);

// The cursor serial, and whether the cursor has visible pixels. The first call asks the
// server to announce cursor changes to `c`; after that the pixels are fetched only when a
// change was announced, so a call per tick costs no round trip while the cursor stays.
// 0 / false when XFixes is missing. Owning thread of `c`.
uint32_t ZVX11CursorSerial(ZVX11Connection& c);
bool ZVX11CursorVisible(ZVX11Connection& c);

// The pointer position in root space; nullopt when the pointer is on another screen or
// the request failed. Owning thread of `c`.
std::optional<std::pair<int32_t, int32_t>> ZVX11PointerPosition(ZVX11Connection& c);

// Turns XFixes' premultiplied ARGB words (in the low 32 bits of each value: Xlib hands
// them out sign-extended in longs) into straight-alpha B, G, R, A bytes. Any thread.
void ZVX11UnpremultiplyCursor(const uint32_t* argb, size_t count, uint8_t* bgra);
