#pragma once
// A screen-cast source the test drives: a PipeWire video node (Video/Source, BGRx, MemFd
// buffers) that sends a frame only when the test asks, as a compositor sends one only on
// damage, with the cursor beside the pixels (SPA_META_Cursor and its bitmap) as GNOME's
// and KDE's casts do, and where the frame changed (SPA_META_VideoDamage) as the test says.
// It connects to the default daemon (ZVPipeWireFixture's).
//
// Given DMA-BUF modifiers, it offers DMA-BUFs first, fixes the modifier as a GPU
// compositor does, and falls back to shared memory only where `sharedToo`. No machine of
// ours has a GPU, /dev/dri, a dma-heap or udmabuf, so its DMA-BUFs are memfds sent as
// DMA-BUFs: a consumer maps them the same way, and their sync ioctl answers ENOTTY as a
// driver without cache maintenance may.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "Video/ZVDamage.h"

namespace zvtest {

class ZVPipeWireProducer {
  public:
    // The cursor sent with a frame; without `rgba` the bitmap is the one sent before.
    struct Cursor {
        int32_t x = 0, y = 0, hotX = 0, hotY = 0;
        int32_t width = 0, height = 0;
        std::vector<uint8_t> rgba;  // R, G, B, A; rows top-down
    };
    // The pixel at (x, y) from the top-left, as a B, G, R, X word.
    using Pattern = std::function<uint32_t(int32_t x, int32_t y)>;

    ZVPipeWireProducer(int32_t width, int32_t height, std::vector<uint64_t> dmaBufModifiers = {},
                       bool sharedToo = true);
    ~ZVPipeWireProducer();

    // The node a consumer connects to. Main thread.
    uint32_t nodeId() const;
    // Waits until a consumer is linked and buffers are there; true when so. Main thread.
    bool waitUntilStreaming(double seconds = 10);
    // Sends one frame, with `damage` (pixels from the top-left) as where it changed; an
    // empty list says nothing of it. Main thread.
    void send(Pattern pattern, std::optional<Cursor> cursor = std::nullopt, ZVDamage damage = {});
    // Leaves the next buffer's number out, as a buffer lost on the way would. Main thread.
    void skipNumber();
    // The memory its buffers are (SPA_DATA_MemFd or SPA_DATA_DmaBuf); 0 before there are
    // any. Main thread.
    uint32_t bufferType() const;
    // Offers a new size; waitUntilStreaming then waits for the new buffers. Main thread.
    void resize(int32_t width, int32_t height);

  private:
    struct Impl;
    std::unique_ptr<Impl> _impl;
};

}  // namespace zvtest
