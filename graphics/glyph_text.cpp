// Glyph text on qorl_bitmap: glyph cells, transparent glyphs, texts and their measure.
#include "graphics/glyph_text.h"

#include "graphics/pixel_access.h"

#include <wx/dcmemory.h>

namespace {

// Calls each(glyph) for every byte of a NUL-terminated text that has a glyph, in order.
template <typename Each> void for_each_glyph(const glyph_font &font, const char *text, Each each) {
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; p++) {
        const qorl_bitmap *glyph = font.glyph_for(*p);
        if (glyph != nullptr)
            each(*glyph);
    }
}

} // namespace

int glyph_font::set_glyph(int code, qorl_bitmap *glyph) {
    if (code < 0 || code >= glyph_count) {
        delete glyph;
        return 0;
    }
    delete glyphs[code];
    glyphs[code] = glyph;
    return 1;
}

void glyph_font::clear() {
    for (qorl_bitmap *&g : glyphs) {
        delete g;
        g = nullptr;
    }
}

int qorl_glyph_font_render(glyph_font &font, const wxFont &source) {
    if (!source.IsOk())
        return -1;
    font.clear();
    wxBitmap scratch(1, 1, 24);
    wxMemoryDC dc(scratch);
    dc.SetFont(source);
    int made = 0;
    for (int code = 32; code < 127; code++) {
        wxString text(wxUniChar(code), 1);
        wxCoord width = 0, height = 0;
        dc.GetTextExtent(text, &width, &height);
        if (width < 1 || height < 1)
            continue;
        // White ink on black: every channel, green included, is the coverage.
        wxBitmap cell(width, height, 24);
        {
            wxMemoryDC cell_dc(cell);
            cell_dc.SetBackground(*wxBLACK_BRUSH);
            cell_dc.Clear();
            cell_dc.SetFont(source);
            cell_dc.SetTextForeground(*wxWHITE);
            cell_dc.DrawText(text, 0, 0);
        }
        font.set_glyph(code, new qorl_bitmap(cell.ConvertToImage()));
        made++;
    }
    dc.SelectObject(wxNullBitmap);
    return made;
}

void qorl_bitmap::DrawTextGlyph(const qorl_bitmap &glyph, int x, int y, const pixel_colour &fg,
                                const pixel_colour &bg) {
    blend_bitmap(*this, glyph, x, y, "DrawTextGlyph",
                 [&](unsigned char *d, const unsigned char *s) {
                     int k = s[1];
                     if (k == 0) {
                         d[0] = static_cast<unsigned char>(bg.r);
                         d[1] = static_cast<unsigned char>(bg.g);
                         d[2] = static_cast<unsigned char>(bg.b);
                     } else {
                         d[0] = static_cast<unsigned char>((bg.r * (255 - k) + fg.r * k) / 256);
                         d[1] = static_cast<unsigned char>((bg.g * (255 - k) + fg.g * k) / 256);
                         d[2] = static_cast<unsigned char>((bg.b * (255 - k) + fg.b * k) / 256);
                     }
                 });
}

void qorl_bitmap::DrawTextGlyphTransparent(const qorl_bitmap &glyph, int x, int y,
                                           const pixel_colour &fg) {
    blend_bitmap(*this, glyph, x, y, "DrawTextGlyphTransparent",
                 [&](unsigned char *d, const unsigned char *s) {
                     int k = s[1];
                     if (k == 0)
                         return;
                     d[0] = static_cast<unsigned char>((fg.r * k + d[0] * (255 - k)) / 256);
                     d[1] = static_cast<unsigned char>((fg.g * k + d[1] * (255 - k)) / 256);
                     d[2] = static_cast<unsigned char>((fg.b * k + d[2] * (255 - k)) / 256);
                 });
}

void qorl_bitmap::DrawGlyphText(const glyph_font &font, const char *text, int x, int y,
                                const pixel_colour &fg, const pixel_colour &bg) {
    if (GetHeight() < y || GetWidth() < x || text == nullptr)
        return;
    for_each_glyph(font, text, [&](const qorl_bitmap &glyph) {
        DrawTextGlyph(glyph, x, y, fg, bg);
        x += glyph.GetWidth();
    });
}

void qorl_bitmap::DrawGlyphTextTransparent(const glyph_font &font, const char *text, int x, int y,
                                           const pixel_colour &fg) {
    if (GetHeight() < y || GetWidth() < x || text == nullptr)
        return;
    for_each_glyph(font, text, [&](const qorl_bitmap &glyph) {
        DrawTextGlyphTransparent(glyph, x, y, fg);
        x += glyph.GetWidth();
    });
}

void qorl_bitmap::MeasureText(const glyph_font &font, const char *text, int *width,
                              int *height) const {
    if (text == nullptr)
        return;
    int total = 0;
    int last_height = 0;
    for_each_glyph(font, text, [&](const qorl_bitmap &glyph) {
        total += glyph.GetWidth();
        last_height = glyph.GetHeight();
    });
    if (width)
        *width = total;
    if (height)
        *height = last_height;
}
