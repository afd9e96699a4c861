#pragma once
#include "ZVPrivate.h"  // library-internal

// Which libavcodec encoder and picture format make each of our video codec types, and how
// the shared quality scale maps onto each encoder's own knobs.
#include <cstdint>

extern "C" {
#include <libavutil/pixfmt.h>
}

struct AVCodecContext;
struct AVDictionary;

struct ZVFFmpegVideoCodec {
    uint32_t codecType;
    const char* encoderName;
    AVPixelFormat pixelFormat;
    // Chroma subsampling of the picture format: the encoded size is rounded up to a
    // multiple of 1 << shift in each direction.
    int widthAlignShift;
    int heightAlignShift;
};

// The entry for `codecType`; nullptr when we have none. Any thread.
const ZVFFmpegVideoCodec* ZVFFmpegFindVideoCodec(uint32_t codecType);

// Sets what the quality (0 ... 0x400) means for this encoder in `context` (for fields)
// or `options` (for private options), unless the caller's options already decide it.
// Any thread.
void ZVFFmpegApplyQuality(const ZVFFmpegVideoCodec& codec, int32_t quality, AVCodecContext* context,
                          AVDictionary** options);
