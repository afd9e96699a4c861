#pragma once
#include "ZVPrivate.h"  // library-internal

// What changed on the screen between two reads of one rectangle, from the DAMAGE
// extension: one damage object on the root window gathers every drawing (the windows'
// too), and each question empties it into a region that is fetched and clipped.
#include <cstdint>
#include <optional>

#include "Video/ZVDamage.h"

class ZVX11Connection;

class ZVX11DamageTracker {
  public:
    // Asks nothing of the server until the first take(). The server frees its objects
    // when the connection closes. Owning thread of `c`.
    explicit ZVX11DamageTracker(ZVX11Connection& c) : _c(c) {}
    ZVX11DamageTracker(const ZVX11DamageTracker&) = delete;
    ZVX11DamageTracker& operator=(const ZVX11DamageTracker&) = delete;

    // The changes inside the root-space rectangle (x, y, w, h) since the last take() of
    // the same rectangle, from its top-left corner, clipped to it, and forgets them;
    // nullopt on the first question, after one about another rectangle and without the
    // extension. A region of many rectangles comes as the one that bounds them. Owning
    // thread of the connection.
    std::optional<ZVDamage> take(int32_t x, int32_t y, int32_t w, int32_t h);

    // More rectangles than this come as their bounding box: splitting the comparison finer
    // saves less than walking the list costs.
    static constexpr int kMostRects = 64;

  private:
    ZVX11Connection& _c;
    uint32_t _damage = 0;  // the damage object on the root; 0 before the first take()
    uint32_t _region = 0;  // what each take() empties the damage into
    bool _broken = false;  // the server refused the objects: never asked again
    struct Rect {
        int32_t x = 0, y = 0, w = 0, h = 0;
        bool operator==(const Rect&) const = default;
    };
    std::optional<Rect> _last;  // the rectangle asked about last
};
