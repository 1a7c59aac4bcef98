// glyph_font: text drawn from pre-rendered glyph bitmaps, one per 7-bit character code.
#pragma once

#include "graphics/pixel_bitmap.h"

#include <wx/font.h>

// In a glyph bitmap the green byte of each pixel is the coverage (0 = background, 255 = full
// ink); the other bytes are not read. The glyphs of one font share one height.
struct glyph_font {
    static constexpr int glyph_count = 128;

    // The glyph of each character code, or null; owned by the font.
    qorl_bitmap *glyphs[glyph_count] = {};

    glyph_font() = default;
    glyph_font(const glyph_font &) = delete;
    glyph_font &operator=(const glyph_font &) = delete;
    ~glyph_font() { clear(); }

    // The glyph for a text byte (its low seven bits select it), or null.
    const qorl_bitmap *glyph_for(unsigned char byte) const { return glyphs[byte & 0x7F]; }
    // Installs glyph (taking ownership, null removes) for code 0..127, replacing any glyph there.
    // Returns 1, or 0 for a code out of range (glyph is then deleted).
    int set_glyph(int code, qorl_bitmap *glyph);
    // Deletes every glyph.
    void clear();
};

// Renders the printable ASCII characters (32..126) of a toolkit font into font, replacing its
// glyphs; every glyph is as tall as the font's line and as wide as the character's advance.
// Needs the toolkit to be initialised. Returns the number of glyphs made, or -1 when the font
// is not usable.
int qorl_glyph_font_render(glyph_font &font, const wxFont &source);
