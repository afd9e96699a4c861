#pragma once
#include "ZVPrivate.h"  // library-internal

// Resamples a part of a BGRA picture onto a BGRA picture of another size with a filter of
// the bicubic class (no nearest-pixel steps): the export camera's crop and zoom, and a
// cursor drawn larger. The part may begin and end between pixels; its whole pixels are
// read and the fraction is taken up by where the scaled picture is placed, so a part
// that moves by less than a pixel moves the picture smoothly instead of re-filtering it
// (text does not shimmer). Made by the media toolkit.
//
// One owner, one thread at a time.
#include <cstdint>

#include "Foundation/ZVGeometry.h"
#include "Media/ZVCompressionSession.h"

class ZVPictureScaler {
  public:
    virtual ~ZVPictureScaler() = default;

    // Fills `to` (width x height BGRA pixels, rows top first, bytesPerRow apart) with
    // `part` of `from` (in its pixels from the top-left, y down; a negative bytesPerRow
    // reads `from` upwards from its top row). False, with `to` untouched, when the part
    // does not lie inside `from` or a picture is empty. Owner's thread.
    virtual bool scale(const ZVSourcePixels& from, ZVRect part, uint8_t* to, int32_t width,
                       int32_t height, int32_t bytesPerRow) = 0;
};
