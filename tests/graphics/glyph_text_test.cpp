// Glyph text: blending of one glyph, texts through a glyph table, and their measure.
#include "graphics/glyph_text.h"
#include "tests/graphics/wx_environment.h"

#include <gtest/gtest.h>

#include <wx/font.h>

namespace {

const pixel_colour black = {0, 0, 0};

// A glyph of the given width whose columns carry the given coverages (in green), 2 rows tall.
qorl_bitmap *make_glyph(std::vector<int> coverage) {
    auto *g = new qorl_bitmap(int(coverage.size()), 2);
    g->Clear({77, 0, 77}); // red and blue are not read
    for (size_t x = 0; x < coverage.size(); x++)
        for (int y = 0; y < 2; y++)
            g->SetPixelRGB(int(x), y, 77, coverage[x], 77);
    return g;
}

TEST(GlyphText, BlendingOfOneGlyph) {
    // Coverage k: background at 0, else (bg * (255 - k) + fg * k) / 256; transparent glyphs
    // keep the pixel at 0 and blend with what was there otherwise.
    struct row {
        int coverage;
        pixel_colour fg, bg, old;
        rgba opaque, transparent;
    };
    const row rows[] = {
        {255, {255, 255, 255}, {0, 0, 0}, {9, 9, 9}, {254, 254, 254, 0}, {254, 254, 254, 0}},
        {0, {255, 255, 255}, {10, 20, 30}, {9, 8, 7}, {10, 20, 30, 0}, {9, 8, 7, 0}},
        {128, {200, 0, 100}, {0, 100, 50}, {40, 60, 80}, {100, 49, 74, 0}, {119, 29, 89, 0}},
        {1,
         {255, 255, 255},
         {100, 100, 100},
         {100, 100, 100},
         {100, 100, 100, 0},
         {100, 100, 100, 0}},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.coverage);
        std::unique_ptr<qorl_bitmap> glyph(make_glyph({r.coverage}));
        qorl_bitmap opaque(3, 3), transparent(3, 3);
        opaque.Clear(r.old);
        transparent.Clear(r.old);
        opaque.DrawTextGlyph(*glyph, 1, 1, r.fg, r.bg);
        transparent.DrawTextGlyphTransparent(*glyph, 1, 1, r.fg);
        rgba p{};
        opaque.GetPixelRGBA(1, 1, p.data());
        EXPECT_EQ(p, (rgba{r.opaque[0], r.opaque[1], r.opaque[2], 255}));
        transparent.GetPixelRGBA(1, 2, p.data());
        EXPECT_EQ(p, (rgba{r.transparent[0], r.transparent[1], r.transparent[2], 255}));
        opaque.GetPixelRGBA(1, 0, p.data());
        EXPECT_EQ(p, (rgba{uint8_t(r.old.r), uint8_t(r.old.g), uint8_t(r.old.b), 255}))
            << "outside the glyph";
    }
}

TEST(GlyphText, GlyphClippedAtNegativePosition) {
    std::unique_ptr<qorl_bitmap> glyph(make_glyph({10, 255, 0}));
    qorl_bitmap b(2, 2);
    b.Clear(black);
    b.DrawTextGlyph(*glyph, -1, -1, {255, 255, 255}, {5, 5, 5});
    EXPECT_EQ(ink_map(b, {254, 254, 254}), (std::vector<std::string>{"#.", ".."}));
    rgba p{};
    b.GetPixelRGBA(1, 0, p.data());
    EXPECT_EQ(p[0], 5);
}

class GlyphTextFont : public ::testing::Test {
  protected:
    void SetUp() override {
        font.set_glyph('A', make_glyph({255, 255}));
        font.set_glyph('B', make_glyph({255, 0, 255}));
    }
    std::vector<std::string> drawn(const char *text, int x, bool transparent) {
        qorl_bitmap b(10, 2);
        b.Clear(black);
        if (transparent)
            b.DrawGlyphTextTransparent(font, text, x, 0, {255, 255, 255});
        else
            b.DrawGlyphText(font, text, x, 0, {255, 255, 255}, {1, 2, 3});
        return ink_map(b, {254, 254, 254});
    }
    glyph_font font;
};

TEST_F(GlyphTextFont, TextsSkipMissingGlyphsAndUseSevenBits) {
    struct row {
        const char *text;
        int x;
        const char *row0;
    };
    const row rows[] = {
        {"AB", 0, "###.#....."},
        {"AxB", 0, "###.#....."},      // no glyph for 'x': skipped without moving
        {"\xC1\xC2", 1, ".###.#...."}, // 0xC1 & 0x7F = 'A', 0xC2 & 0x7F = 'B'
        {"BBBB", 7, ".......#.#"},     // cut at the right edge
        {"", 0, ".........."},
    };
    for (bool transparent : {false, true}) {
        for (const row &r : rows) {
            SCOPED_TRACE(std::string(r.text) + (transparent ? " transparent" : ""));
            std::vector<std::string> map = drawn(r.text, r.x, transparent);
            EXPECT_EQ(map[0], r.row0);
            EXPECT_EQ(map[1], r.row0);
        }
    }
    EXPECT_EQ(drawn(nullptr, 0, false)[0], "..........");
    EXPECT_EQ(drawn("AB", 11, false)[0], "..........");

    // The background of a cell is painted by the opaque form only.
    qorl_bitmap b(10, 2);
    b.Clear(black);
    b.DrawGlyphText(font, "B", 0, 0, {255, 255, 255}, {1, 2, 3});
    rgba p{};
    b.GetPixelRGBA(1, 0, p.data());
    EXPECT_EQ(p, (rgba{1, 2, 3, 255}));
}

TEST_F(GlyphTextFont, MeasureText) {
    struct row {
        const char *text;
        int width, height;
    };
    const row rows[] = {{"AB", 5, 2}, {"AxxA", 4, 2}, {"", 0, 0}, {"xyz", 0, 0}, {"\xC2", 3, 2}};
    qorl_bitmap b(1, 1);
    for (const row &r : rows) {
        SCOPED_TRACE(r.text);
        int width = -7, height = -7;
        b.MeasureText(font, r.text, &width, &height);
        EXPECT_EQ(width, r.width);
        EXPECT_EQ(height, r.height);
    }
    int width = -7, height = -7;
    b.MeasureText(font, nullptr, &width, &height);
    EXPECT_EQ(width, -7);
    EXPECT_EQ(height, -7);
}

TEST(GlyphText, FontRenderedFromToolkitFont) {
    glyph_font font;
    wxFont source(wxFontInfo(12).Family(wxFONTFAMILY_TELETYPE));
    EXPECT_EQ(qorl_glyph_font_render(font, source), 95);
    ASSERT_NE(font.glyph_for('M'), nullptr);
    EXPECT_EQ(font.glyph_for('\n'), nullptr);
    qorl_bitmap canvas(200, 40);
    canvas.Clear(black);
    canvas.DrawGlyphTextTransparent(font, "Duskmere", 2, 2, {255, 255, 255});
    int inked = 0;
    for (const rgba &p : read_pixels(canvas).pixels)
        inked += p[0] > 128;
    EXPECT_GT(inked, 20);
    int width = 0, height = 0;
    canvas.MeasureText(font, "MM", &width, &height);
    EXPECT_EQ(width, 2 * font.glyph_for('M')->GetWidth());
    EXPECT_EQ(height, font.glyph_for('M')->GetHeight());
}

} // namespace
