#include "Platform/X11/ZVX11Monitors.h"

#include <xcb/dpms.h>
#include <xcb/randr.h>

#include <cstdlib>
#include <memory>

#include "Platform/X11/ZVEDID.h"
#include "Platform/X11/ZVX11Connection.h"

namespace {

template <typename T>
using Reply = std::unique_ptr<T, decltype(&free)>;

template <typename T>
Reply<T> own(T* p) {
    return Reply<T>(p, &free);
}

double modeRate(const xcb_randr_mode_info_t& m) {
    double v = m.vtotal;
    if (m.mode_flags & XCB_RANDR_MODE_FLAG_DOUBLE_SCAN) v *= 2;
    if (m.mode_flags & XCB_RANDR_MODE_FLAG_INTERLACE) v /= 2;
    if (m.dot_clock == 0 || m.htotal == 0 || v == 0) return 0;
    return m.dot_clock / (m.htotal * v);
}

bool dpmsAsleep(ZVX11Connection& c) {
    if (!c.hasDPMS()) return false;
    auto info = own(xcb_dpms_info_reply(c.xcb(), xcb_dpms_info(c.xcb()), nullptr));
    return info && info->state && info->power_level != XCB_DPMS_DPMS_MODE_ON;
}

// Fills online, active, product name and refresh rate from the monitor's outputs.
void describeOutputs(ZVX11Connection& c, const xcb_randr_output_t* outputs, int count,
                     const xcb_randr_get_screen_resources_current_reply_t* res,
                     ZVDisplayDescription& d) {
    xcb_connection_t* x = c.xcb();
    if (count == 0) {
        // A monitor made by hand without outputs: the server draws it like any other.
        d.online = d.active = true;
        return;
    }
    xcb_atom_t edidAtom = c.atom("EDID");
    for (int i = 0; i < count; ++i) {
        auto info = own(xcb_randr_get_output_info_reply(
            x, xcb_randr_get_output_info(x, outputs[i], XCB_CURRENT_TIME), nullptr));
        if (!info) continue;
        if (info->connection == XCB_RANDR_CONNECTION_CONNECTED) d.online = true;
        if (info->crtc != XCB_NONE) {
            d.active = true;
            if (d.refreshRate == 0 && res) {
                auto crtc = own(xcb_randr_get_crtc_info_reply(
                    x, xcb_randr_get_crtc_info(x, info->crtc, XCB_CURRENT_TIME), nullptr));
                const xcb_randr_mode_info_t* modes =
                    xcb_randr_get_screen_resources_current_modes(res);
                int n = xcb_randr_get_screen_resources_current_modes_length(res);
                for (int m = 0; crtc && m < n; ++m)
                    if (modes[m].id == crtc->mode) d.refreshRate = modeRate(modes[m]);
            }
        }
        if (!d.productName && edidAtom != XCB_ATOM_NONE) {
            auto prop = own(xcb_randr_get_output_property_reply(
                x,
                xcb_randr_get_output_property(x, outputs[i], edidAtom, XCB_ATOM_ANY, 0, 64, 0, 0),
                nullptr));
            if (prop && prop->format == 8) {
                int len = xcb_randr_get_output_property_data_length(prop.get());
                d.productName = ZVEDIDProductName(xcb_randr_get_output_property_data(prop.get()),
                                                  static_cast<size_t>(len < 0 ? 0 : len));
            }
        }
    }
}

}  // namespace

ZVRect ZVX11DesktopRectFromRoot(const ZVX11Monitor& p, int32_t x, int32_t y, int32_t w, int32_t h) {
    return ZVMakeRect(static_cast<float>(x - p.rootX),
                      static_cast<float>((p.rootY + p.height) - (y + h)), static_cast<float>(w),
                      static_cast<float>(h));
}

ZVPoint ZVX11DesktopPointFromRoot(const ZVX11Monitor& p, int32_t x, int32_t y) {
    return ZVPoint{static_cast<float>(x - p.rootX), static_cast<float>((p.rootY + p.height) - y)};
}

std::vector<ZVX11Monitor> ZVX11QueryMonitors(ZVX11Connection& c) {
    xcb_connection_t* x = c.xcb();
    std::vector<ZVX11Monitor> list;
    bool asleep = dpmsAsleep(c);
    if (!c.hasRandR15()) {
        ZVX11Monitor m;
        m.width = c.screen()->width_in_pixels;
        m.height = c.screen()->height_in_pixels;
        m.description.displayID = 1;
        m.description.name = "screen";
        m.description.primary = m.description.online = m.description.active = true;
        m.description.asleep = asleep;
        list.push_back(m);
    } else {
        auto monC = xcb_randr_get_monitors(x, c.root(), 0);
        auto resC = xcb_randr_get_screen_resources_current(x, c.root());
        auto primC = xcb_randr_get_output_primary(x, c.root());
        auto mons = own(xcb_randr_get_monitors_reply(x, monC, nullptr));
        auto res = own(xcb_randr_get_screen_resources_current_reply(x, resC, nullptr));
        auto prim = own(xcb_randr_get_output_primary_reply(x, primC, nullptr));
        if (!mons) return list;
        xcb_randr_output_t primaryOutput = prim ? prim->output : XCB_NONE;
        int holdsPrimaryOutput = -1;
        for (auto it = xcb_randr_get_monitors_monitors_iterator(mons.get()); it.rem;
             xcb_randr_monitor_info_next(&it)) {
            const xcb_randr_monitor_info_t* info = it.data;
            ZVX11Monitor m;
            m.rootX = info->x;
            m.rootY = info->y;
            m.width = info->width;
            m.height = info->height;
            ZVDisplayDescription& d = m.description;
            d.displayID = info->name;
            d.primary = info->primary;
            d.asleep = asleep;
            const xcb_randr_output_t* outs = xcb_randr_monitor_info_outputs(info);
            int n = xcb_randr_monitor_info_outputs_length(info);
            for (int i = 0; i < n; ++i)
                if (outs[i] == primaryOutput && primaryOutput != XCB_NONE && holdsPrimaryOutput < 0)
                    holdsPrimaryOutput = static_cast<int>(list.size());
            describeOutputs(c, outs, n, res.get(), d);
            if (auto nm =
                    own(xcb_get_atom_name_reply(x, xcb_get_atom_name(x, info->name), nullptr)))
                d.name.assign(xcb_get_atom_name_name(nm.get()),
                              static_cast<size_t>(xcb_get_atom_name_name_length(nm.get())));
            list.push_back(std::move(m));
        }
        // Primary: the flagged monitor, else the one with the primary output, else the
        // one at the root's origin, else the first.
        int primary = -1;
        for (size_t i = 0; i < list.size() && primary < 0; ++i)
            if (list[i].description.primary) primary = static_cast<int>(i);
        if (primary < 0) primary = holdsPrimaryOutput;
        for (size_t i = 0; i < list.size() && primary < 0; ++i)
            if (list[i].rootX == 0 && list[i].rootY == 0) primary = static_cast<int>(i);
        if (primary < 0 && !list.empty()) primary = 0;
        if (primary > 0) {
            ZVX11Monitor p = std::move(list[static_cast<size_t>(primary)]);
            list.erase(list.begin() + primary);
            list.insert(list.begin(), std::move(p));
        }
        for (size_t i = 0; i < list.size(); ++i) list[i].description.primary = (i == 0);
    }
    if (!list.empty()) {
        const ZVX11Monitor p = list.front();
        for (auto& m : list)
            m.description.frame = ZVX11DesktopRectFromRoot(p, m.rootX, m.rootY, m.width, m.height);
    }
    return list;
}
