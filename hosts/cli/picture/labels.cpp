// cairo's own font selection: the face is named, not loaded from a path, so a missing
// font file costs only the look of the labels (fontconfig substitutes, and cairo has a
// built-in face when there is no font at all), never the picture.
#include "cli/picture/labels.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <memory>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define Q5_LEAK_CHECKED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(Q5_LEAK_CHECKED)
// fontconfig, on its first use, parses its configuration and resolves cairo's face
// into allocations it never frees; a few hundred bytes once a process, not ours.
extern "C" const char *__lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
extern "C" const char *__lsan_default_options() { return "print_suppressions=0"; }
#endif

namespace q5cli {

namespace {

using Surface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;
using Context = std::unique_ptr<cairo_t, decltype(&cairo_destroy)>;

void setStyle(cairo_t *cr, const TextStyle &style) {
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                           style.bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, style.size);
}

// Measuring needs a context but no pixels.
template <typename F>
auto measure(const TextStyle &style, F &&f) {
    Surface surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1), cairo_surface_destroy);
    Context cr(cairo_create(surface.get()), cairo_destroy);
    setStyle(cr.get(), style);
    return f(cr.get());
}

}  // namespace

int textWidth(const std::string &text, const TextStyle &style) {
    return measure(style, [&](cairo_t *cr) {
        cairo_text_extents_t e{};
        cairo_text_extents(cr, text.c_str(), &e);
        return static_cast<int>(std::ceil(std::max(e.x_advance, e.x_bearing + e.width)));
    });
}

int lineHeight(const TextStyle &style) {
    return measure(style, [&](cairo_t *cr) {
        cairo_font_extents_t e{};
        cairo_font_extents(cr, &e);
        return static_cast<int>(std::ceil(e.ascent + e.descent));
    });
}

bool drawLabels(std::vector<std::uint8_t> &rgb, int width, int height, const std::vector<Label> &labels) {
    Surface surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height), cairo_surface_destroy);
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return false;
    // RGB24 keeps a pixel in a native-endian 32-bit word, red in bits 16..23.
    unsigned char *data = cairo_image_surface_get_data(surface.get());
    const int stride = cairo_image_surface_get_stride(surface.get());
    const auto word = [&](int x, int y) { return reinterpret_cast<std::uint32_t *>(data + std::size_t(y) * stride) + x; };
    cairo_surface_flush(surface.get());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint8_t *p = &rgb[(std::size_t(y) * width + x) * 3];
            *word(x, y) = std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2];
        }
    cairo_surface_mark_dirty(surface.get());

    Context cr(cairo_create(surface.get()), cairo_destroy);
    cairo_set_source_rgb(cr.get(), 0.12, 0.12, 0.12);
    for (const Label &label : labels) {
        setStyle(cr.get(), label.style);
        cairo_font_extents_t font{};
        cairo_font_extents(cr.get(), &font);
        cairo_text_extents_t text{};
        cairo_text_extents(cr.get(), label.text.c_str(), &text);
        cairo_move_to(cr.get(), std::round(label.centreX - text.x_advance / 2), label.top + std::round(font.ascent));
        cairo_show_text(cr.get(), label.text.c_str());
    }
    cairo_surface_flush(surface.get());
    if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) return false;

    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint32_t v = *word(x, y);
            std::uint8_t *p = &rgb[(std::size_t(y) * width + x) * 3];
            p[0] = std::uint8_t(v >> 16), p[1] = std::uint8_t(v >> 8), p[2] = std::uint8_t(v);
        }
    return true;
}

}  // namespace q5cli
