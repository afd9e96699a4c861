#include "Platform/PipeWire/ZVWaylandDisplayServer.h"

#include <unistd.h>

#include <thread>

#include "Foundation/ZVLog.h"
#include "Platform/PipeWire/ZVPipeWireConnection.h"
#include "Platform/PipeWire/ZVPipeWireStream.h"
#include "Platform/Wayland/ZVWaylandRepaint.h"
#include "Video/ZVPixelBufferPool.h"

namespace {
// The compositor sends a stream's first frame as soon as it starts (a still screen sends
// no more); the sizes of the displays come from it. A wlroots compositor's portal may send
// none on a still screen (ZVWaylandRepaint says why): after a short wait the outputs are
// drawn once more, a few times, before the stream is given up on.
constexpr auto kFirstFrameWait = std::chrono::seconds(5);
constexpr auto kRepaintAfter = std::chrono::milliseconds(400);
constexpr int kRepaints = 3;
constexpr double kDefaultRate = 60;
}  // namespace

struct ZVWaylandDisplayServer::Output {
    ZVScreenCastStream granted;
    std::unique_ptr<ZVPipeWireStream> stream;
};

ZVWaylandDisplayServer::ZVWaylandDisplayServer(ZVScreenCastOpener opener,
                                               ZVScreenCastRequest request)
    : _opener(std::move(opener)), _request(request) {}

ZVWaylandDisplayServer::~ZVWaylandDisplayServer() {
    _outputs.clear();  // the streams go before their connection
}

bool ZVWaylandDisplayServer::ensureOpen() {
    if (!_opened.load(std::memory_order_acquire)) {
        ZVLockGuard<ZVMutex> g(_openLock);
        if (!_opened.load(std::memory_order_relaxed)) {
            open();
            _opened.store(true, std::memory_order_release);
        }
    }
    return _error.empty();
}

void ZVWaylandDisplayServer::open() {
    std::string error;
    std::optional<ZVScreenCastGrant> grant;
    if (_opener) grant = _opener(_request, &error);
    if (!grant) {
        _error = error.empty() ? "the screen cast was not granted" : error;
        return;
    }
    _cursorMode = grant->cursorMode;
    _portalSession = grant->session;
    if (grant->streams.empty()) {
        if (grant->pipewireFd >= 0) close(grant->pipewireFd);
        _error = "the screen cast portal granted no stream";
        return;
    }
    _connection = ZVPipeWireConnection::connect(grant->pipewireFd, &error);
    if (!_connection) {
        _error = error;
        return;
    }
    for (const ZVScreenCastStream& granted : grant->streams) {
        auto stream = ZVPipeWireStream::open(_connection, granted.nodeId, &error);
        if (!stream) {
            _error = error;
            _outputs.clear();
            return;
        }
        _outputs.push_back(Output{granted, std::move(stream)});
    }
    const auto deadline = std::chrono::steady_clock::now() + kFirstFrameWait;
    int repaints = 0;
    for (Output& o : _outputs) {
        auto left = [&] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
        };
        bool came = o.stream->waitForFrame(0, std::min(left(), kRepaintAfter));
        while (!came && repaints < kRepaints && o.stream->endReason().empty()) {
            ++repaints;
            std::string cannot;
            if (!ZVWaylandRepaint::repaintOutputs(kRepaintAfter, &cannot))
                ZVLog("Wayland: the outputs could not be drawn once more: %s", cannot.c_str());
            came = o.stream->waitForFrame(0, std::min(left(), kRepaintAfter));
        }
        if (came || o.stream->waitForFrame(0, left())) continue;
        const std::string why = o.stream->endReason();
        if (!why.empty()) {
            _error = "the screen cast stream ended: " + why;
        } else if (o.granted.size.width <= 0 || o.granted.size.height <= 0) {
            _error = "the screen cast stream of node " + std::to_string(o.granted.nodeId) +
                     " sent no picture";
        } else {
            // Its size is known: the recording starts with the first picture, whenever that comes.
            _request.tell(
                "the screen cast has sent no picture yet: the recording starts once something "
                "on the screen changes");
            continue;
        }
        _outputs.clear();
        return;
    }
}

ZVWaylandDisplayServer::Placement ZVWaylandDisplayServer::placement(const Output& o) const {
    auto logicalSize = [](const Output& out) {
        ZVSize size = out.granted.size;
        if (size.width <= 0 || size.height <= 0) {
            auto [w, h] = out.stream->pixelSize();
            size = ZVSize{float(w), float(h)};
        }
        return size;
    };
    const Output& primary = _outputs.front();
    const ZVSize size = logicalSize(o);
    const float primaryBottom = primary.granted.position.y + logicalSize(primary).height;
    Placement p;
    // The compositor's space has its origin top-left, y down; the desktop's is the primary
    // display's bottom-left, y up.
    p.desktop =
        ZVMakeRect(o.granted.position.x - primary.granted.position.x,
                   primaryBottom - o.granted.position.y - size.height, size.width, size.height);
    const int32_t pixelWidth = o.stream->pixelSize().first;
    if (size.width > 0 && pixelWidth > 0) p.scale = double(pixelWidth) / size.width;
    return p;
}

std::string ZVWaylandDisplayServer::unavailableReason() {
    ensureOpen();
    return _error;
}

std::vector<ZVDisplayDescription> ZVWaylandDisplayServer::displays() {
    std::vector<ZVDisplayDescription> list;
    if (!ensureOpen()) return list;
    for (const Output& o : _outputs) {
        ZVDisplayDescription d;
        d.displayID = o.granted.nodeId;
        d.name =
            o.granted.id.empty() ? "screen cast " + std::to_string(o.granted.nodeId) : o.granted.id;
        d.frame = placement(o).desktop;
        d.primary = &o == &_outputs.front();
        d.online = d.active = o.stream->endReason().empty();
        const double rate = o.stream->frameRate();
        d.refreshRate = rate > 0 ? rate : kDefaultRate;
        list.push_back(std::move(d));
    }
    return list;
}

std::vector<ZVDisplayDescription> ZVWaylandDisplayServer::cachedDisplays() {
    return displays();  // nothing travels to a server: no cache needed
}

bool ZVWaylandDisplayServer::readDisplayRect(uint32_t displayID, const ZVRect& rect,
                                             uint8_t* bottomLeft, uint32_t stride, uint32_t maxRows,
                                             uint32_t maxBytesPerRow) {
    if (!ensureOpen()) return false;
    for (const Output& o : _outputs)
        if (o.granted.nodeId == displayID)
            return o.stream->readRect(rect, placement(o).scale, bottomLeft, stride, maxRows,
                                      maxBytesPerRow);
    return false;
}

const ZVWaylandDisplayServer::Output* ZVWaylandDisplayServer::straightOutput(
    const ZVRect& desktopRect, ZVDamageRect* inFrame) const {
    for (const Output& o : _outputs) {
        const Placement p = placement(o);
        if (p.scale != 1 || ZVIntersectionRect(desktopRect, p.desktop) != desktopRect) continue;
        *inFrame = ZVDamageRect{int32_t(desktopRect.origin.x - p.desktop.origin.x),
                                int32_t(p.desktop.maxY() - desktopRect.maxY()),
                                int32_t(desktopRect.size.width), int32_t(desktopRect.size.height)};
        return &o;
    }
    return nullptr;
}

bool ZVWaylandDisplayServer::readRectIntoBuffer(const ZVRect& desktopRect, ZVPixelStorage& buffer) {
    if (!ensureOpen()) return false;
    // The rectangle on one output at one pixel per unit: its rows are rows of the frame,
    // copied as they are; anything else is read display by display.
    ZVDamageRect r;
    const Output* o = straightOutput(desktopRect, &r);
    if (!o || int64_t{buffer.width()} != r.width || int64_t{buffer.height()} != r.height)
        return false;
    return o->stream->copyInto(r, buffer);
}

std::optional<ZVDamage> ZVWaylandDisplayServer::takeDamage(const ZVRect& desktopRect) {
    if (!ensureOpen()) return std::nullopt;
    // Only where the frame's pixels are the rectangle's one for one; a rectangle across
    // outputs or on a scaled one is compared whole.
    ZVDamageRect r;
    const Output* o = straightOutput(desktopRect, &r);
    if (!o) return std::nullopt;
    return o->stream->takeDamage(std::hash<std::thread::id>{}(std::this_thread::get_id()), r);
}

const ZVWaylandDisplayServer::Output* ZVWaylandDisplayServer::cursorOutput() const {
    const Output* known = nullptr;
    for (const Output& o : _outputs) {
        const ZVPipeWireStream::Cursor c = o.stream->cursor();
        if (c.visible) return &o;
        if (c.known && !known) known = &o;
    }
    return known;
}

std::optional<ZVCursorImage> ZVWaylandDisplayServer::currentCursor() {
    if (!ensureOpen()) return std::nullopt;
    const Output* o = cursorOutput();
    if (!o) return std::nullopt;
    const ZVPipeWireStream::Cursor c = o->stream->cursor();
    if (!c.image) return std::nullopt;
    return *c.image;
}

uint32_t ZVWaylandDisplayServer::cursorSeed() {
    if (!ensureOpen()) return 0;
    const Output* o = cursorOutput();
    if (!o) return 0;
    const ZVPipeWireStream::Cursor c = o->stream->cursor();
    return c.image ? c.image->serial : 0;
}

bool ZVWaylandDisplayServer::isCursorVisible() {
    if (!ensureOpen()) return false;
    const Output* o = cursorOutput();
    return o && o->stream->cursor().visible;
}

ZVPoint ZVWaylandDisplayServer::mouseLocation() {
    if (!ensureOpen()) return {};
    const Output* o = cursorOutput();
    if (!o) return {};
    const ZVPipeWireStream::Cursor c = o->stream->cursor();
    const Placement p = placement(*o);
    return ZVPoint{p.desktop.origin.x + float(c.x / p.scale),
                   p.desktop.origin.y + p.desktop.size.height - float(c.y / p.scale)};
}

ZVRect ZVWaylandDisplayServer::desktopRectFromNative(const ZVRect& native) {
    if (!ensureOpen()) return native;
    const Output& primary = _outputs.front();
    const Placement p = placement(primary);
    return ZVMakeRect(
        native.origin.x - primary.granted.position.x,
        primary.granted.position.y + p.desktop.size.height - native.origin.y - native.size.height,
        native.size.width, native.size.height);
}

std::optional<ZVRawImage> ZVWaylandDisplayServer::windowImage(int32_t, bool) {
    if (!ensureOpen()) return std::nullopt;
    // The portal's dialog chose the window: its stream is the picture, whatever the id.
    for (const Output& o : _outputs)
        if (o.granted.sourceType == kZVSourceWindow || _request.sourceTypes == kZVSourceWindow)
            return o.stream->image();
    return std::nullopt;
}

std::string ZVWaylandDisplayServer::takeLostReason() {
    if (!_opened.load(std::memory_order_acquire) || !_error.empty()) return {};
    for (const Output& o : _outputs) {
        const std::string why = o.stream->endReason();
        if (!why.empty() && !_lostTold.exchange(true))
            return "the screen cast stream ended: " + why;
    }
    return {};
}

bool ZVWaylandDisplayServer::cursorInFrames() {
    ensureOpen();
    return _cursorMode == kZVCursorEmbedded;
}

double ZVWaylandDisplayServer::pixelScale(const ZVRect& desktopRect) {
    if (!ensureOpen()) return 1;
    for (const Output& o : _outputs) {
        const Placement p = placement(o);
        const ZVPoint at = desktopRect.origin;
        if (at.x >= p.desktop.minX() && at.x < p.desktop.maxX() && at.y >= p.desktop.minY() &&
            at.y < p.desktop.maxY())
            return p.scale;
    }
    return placement(_outputs.front()).scale;
}
