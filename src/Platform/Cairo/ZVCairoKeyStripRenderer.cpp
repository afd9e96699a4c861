#include "Platform/Cairo/ZVCairoKeyStripRenderer.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "Foundation/ZVLog.h"

namespace {
constexpr int kFontPixels = 20;
// Three box passes of radius 2 make a Gaussian of sigma ~2.45, the look of a shadow
// whose blur radius is 5.
constexpr int kBlurRadius = 2;
constexpr int kBlurPasses = 3;
constexpr int kShadowMargin = kBlurRadius * kBlurPasses;

struct SurfaceCloser {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextCloser {
    void operator()(cairo_t* c) const { cairo_destroy(c); }
};
struct ObjectCloser {
    void operator()(void* o) const { g_object_unref(o); }
};
struct FontCloser {
    void operator()(PangoFontDescription* f) const { pango_font_description_free(f); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceCloser>;
using Context = std::unique_ptr<cairo_t, ContextCloser>;
using Layout = std::unique_ptr<PangoLayout, ObjectCloser>;

// A rectangle of the strip in cairo's top-down space.
struct Box {
    double x, y, w, h;
};

// One pass of a running-sum box filter over `n` values `step` apart.
void boxPass(uint8_t* p, int n, int step, std::vector<uint8_t>& scratch) {
    scratch.resize(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) scratch[i] = p[i * step];
    constexpr int span = 2 * kBlurRadius + 1;
    int sum = 0;
    for (int i = -kBlurRadius; i <= kBlurRadius; ++i)
        if (i >= 0 && i < n) sum += scratch[i];
    for (int i = 0; i < n; ++i) {
        p[i * step] = static_cast<uint8_t>((sum + span / 2) / span);
        const int out = i - kBlurRadius, in = i + kBlurRadius + 1;
        if (out >= 0) sum -= scratch[out];
        if (in < n) sum += scratch[in];
    }
}

void blur(cairo_surface_t* mask) {
    cairo_surface_flush(mask);
    uint8_t* data = cairo_image_surface_get_data(mask);
    const int w = cairo_image_surface_get_width(mask);
    const int h = cairo_image_surface_get_height(mask);
    const int stride = cairo_image_surface_get_stride(mask);
    std::vector<uint8_t> scratch;
    for (int pass = 0; pass < kBlurPasses; ++pass) {
        for (int y = 0; y < h; ++y) boxPass(data + y * stride, w, 1, scratch);
        for (int x = 0; x < w; ++x) boxPass(data + x, h, stride, scratch);
    }
    cairo_surface_mark_dirty(mask);
}

Layout makeLayout(cairo_t* cr, const std::string& text, double width) {
    Layout layout(pango_cairo_create_layout(cr));
    std::unique_ptr<PangoFontDescription, FontCloser> font(pango_font_description_new());
    pango_font_description_set_family(font.get(), "DejaVu Sans");
    pango_font_description_set_absolute_size(font.get(), kFontPixels * PANGO_SCALE);
    pango_layout_set_font_description(layout.get(), font.get());
    pango_layout_set_single_paragraph_mode(layout.get(), TRUE);
    pango_layout_set_width(layout.get(), static_cast<int>(width * PANGO_SCALE));
    pango_layout_set_alignment(layout.get(), PANGO_ALIGN_CENTER);
    pango_layout_set_ellipsize(layout.get(), PANGO_ELLIPSIZE_START);
    pango_layout_set_text(layout.get(), text.data(), static_cast<int>(text.size()));
    return layout;
}

// White text in `box` (laid out from its top) over a blurred black shadow of itself.
void drawText(cairo_t* cr, const std::string& text, const Box& box, int stripWidth) {
    if (text.empty() || box.w < 1) return;
    Layout layout = makeLayout(cr, text, box.w);
    // The shadow is drawn into an alpha mask covering the ink and the blur's reach only:
    // keys are short, the strip is as wide as the picture.
    PangoRectangle ink;
    pango_layout_get_pixel_extents(layout.get(), &ink, nullptr);
    const int left = std::clamp(static_cast<int>(box.x) + ink.x - kShadowMargin, 0, stripWidth);
    const int right =
        std::clamp(static_cast<int>(box.x) + ink.x + ink.width + kShadowMargin + 1, 0, stripWidth);
    if (ink.width > 0 && right > left) {
        Surface mask(
            cairo_image_surface_create(CAIRO_FORMAT_A8, right - left, ZVKeyStripRenderer::kHeight));
        Context mcr(cairo_create(mask.get()));
        pango_cairo_update_layout(mcr.get(), layout.get());
        cairo_move_to(mcr.get(), box.x - left, box.y);
        pango_cairo_show_layout(mcr.get(), layout.get());
        blur(mask.get());
        cairo_set_source_rgb(cr, 0, 0, 0);
        cairo_mask_surface(cr, mask.get(), left, 0);
    }
    pango_cairo_update_layout(cr, layout.get());
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_move_to(cr, box.x, box.y);
    pango_cairo_show_layout(cr, layout.get());
}

void roundedBox(cairo_t* cr, const Box& b, double r) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, b.x + b.w - r, b.y + r, r, -G_PI / 2, 0);
    cairo_arc(cr, b.x + b.w - r, b.y + b.h - r, r, 0, G_PI / 2);
    cairo_arc(cr, b.x + r, b.y + b.h - r, r, G_PI / 2, G_PI);
    cairo_arc(cr, b.x + r, b.y + r, r, G_PI, 3 * G_PI / 2);
    cairo_close_path(cr);
}

// Straight RGBA rows from cairo's premultiplied native-endian ARGB.
std::shared_ptr<ZVImage> toImage(cairo_surface_t* surface) {
    cairo_surface_flush(surface);
    const int w = cairo_image_surface_get_width(surface);
    const int h = cairo_image_surface_get_height(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const uint8_t* src = cairo_image_surface_get_data(surface);
    std::vector<uint8_t> rgba(static_cast<size_t>(w) * 4 * h);
    for (int y = 0; y < h; ++y) {
        const uint32_t* in = reinterpret_cast<const uint32_t*>(src + y * stride);
        uint8_t* out = rgba.data() + static_cast<size_t>(w) * 4 * y;
        // Most of a strip is its plain fill: a pixel like the one before is copied.
        uint32_t last = 0;
        uint8_t lastRGBA[4] = {0, 0, 0, 0};
        for (int x = 0; x < w; ++x, out += 4) {
            const uint32_t argb = in[x];
            if (argb != last) {
                last = argb;
                const unsigned a = argb >> 24;
                auto straight = [a](unsigned c) -> uint8_t {
                    return a == 0 ? 0 : static_cast<uint8_t>(std::min(255u, (c * 255 + a / 2) / a));
                };
                lastRGBA[0] = straight((argb >> 16) & 0xFF);
                lastRGBA[1] = straight((argb >> 8) & 0xFF);
                lastRGBA[2] = straight(argb & 0xFF);
                lastRGBA[3] = static_cast<uint8_t>(a);
            }
            std::memcpy(out, lastRGBA, 4);
        }
    }
    return ZVImage::create(w, h, ZVImage::Format::RGBA, rgba.data(), static_cast<size_t>(w) * 4);
}

}  // namespace

std::shared_ptr<ZVImage> ZVCairoKeyStripRenderer::drawStrip(int32_t width, const std::string& keys,
                                                            const std::string& modifiers) {
    if (width < 1 || width > kMaxWidth) return nullptr;
    Surface surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, kHeight));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
        ZVLog("Could not draw the key strip: %s",
              cairo_status_to_string(cairo_surface_status(surface.get())));
        return nullptr;
    }
    Context cr(cairo_create(surface.get()));
    cairo_set_source_rgba(cr.get(), 0, 0, 0, 0.5);
    cairo_paint(cr.get());

    // The strip's geometry is given from its lower-left corner, y up: a box at y with
    // height h lies at kHeight - y - h from the top.
    drawText(cr.get(), keys, Box{100, kHeight - (-10) - 40.0, width - 200.0, 40}, width);
    if (!modifiers.empty()) {
        roundedBox(cr.get(), Box{10, kHeight - 5 - 30.0, 90, 30}, 5);
        cairo_set_source_rgb(cr.get(), 1, 1, 1);
        cairo_set_line_width(cr.get(), 1);
        cairo_stroke(cr.get());
        drawText(cr.get(), modifiers, Box{15, kHeight - (-10) - 40.0, 80, 40}, width);
    }
    if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) {
        ZVLog("Could not draw the key strip: %s", cairo_status_to_string(cairo_status(cr.get())));
        return nullptr;
    }
    return toImage(surface.get());
}
