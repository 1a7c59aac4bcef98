// qorl_bitmap shapes: lines, gradient lines, polygons, gradient rectangles, discs, and the rule
// that only Clear and ClearAlpha write alpha bytes.
#include "graphics/glyph_text.h"
#include "graphics/pixel_bitmap.h"
#include "tests/graphics/wx_environment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace {

const pixel_colour black = {0, 0, 0};
const pixel_colour white = {255, 255, 255};
const pixel_colour ink = {200, 100, 50};
const pixel_colour fill = {0, 200, 0};

qorl_bitmap blank(int width, int height) {
    qorl_bitmap b(width, height);
    b.Clear(black);
    return b;
}

using picture = std::vector<std::string>;

TEST(BitmapShapes, LinesInBothDirections) {
    struct row {
        const char *name;
        int x0, y0, x1, y1;
        picture expected;
    };
    const row rows[] = {
        {"shallow", 0, 0, 5, 2, {"##....", "..##..", "....##", "......"}},
        {"steep", 1, 0, 3, 3, {".#....", "..#...", "..#...", "...#.."}},
        {"diagonal tie is y-major", 0, 3, 3, 0, {"...#..", "..#...", ".#....", "#....."}},
        {"single point", 4, 1, 4, 1, {"......", "....#.", "......", "......"}},
        {"clipped", -2, 1, 8, 1, {"......", "######", "......", "......"}},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.name);
        qorl_bitmap forward = blank(6, 4);
        forward.DrawLine(r.x0, r.y0, r.x1, r.y1, ink);
        qorl_bitmap backward = blank(6, 4);
        backward.DrawLine(r.x1, r.y1, r.x0, r.y0, ink);
        EXPECT_EQ(ink_map(forward, ink), r.expected);
        EXPECT_EQ(ink_map(backward, ink), r.expected);
    }
}

TEST(BitmapShapes, GradientLineStartsExactAndStopsOneStepShort) {
    qorl_bitmap b = blank(6, 4);
    // x-major, 4 long: n = 5, step = 255 * 256 / 5 = 13056 (51 per pixel).
    int minor = b.DrawGradientLine(0, 0, 4, 2, black, white);
    const int expect_x[] = {0, 1, 2, 3, 4};
    const int expect_y[] = {0, 1, 1, 2, 2};
    for (int i = 0; i < 5; i++) {
        rgba p{};
        b.GetPixelRGBA(expect_x[i], expect_y[i], p.data());
        EXPECT_EQ(p[0], 51 * i) << "pixel " << i;
        EXPECT_EQ(p[2], 51 * i) << "pixel " << i;
    }
    EXPECT_EQ(minor, 3);

    // y-major towards smaller coordinates: walks from the first end point.
    qorl_bitmap c = blank(4, 6);
    int minor_x = c.DrawGradientLine(2, 5, 2, 2, white, black);
    rgba first{}, last{};
    c.GetPixelRGBA(2, 5, first.data());
    c.GetPixelRGBA(2, 2, last.data());
    EXPECT_EQ(first[1], 255);
    EXPECT_EQ(last[1], 63); // (65280 - 3 * 16320) >> 8
    EXPECT_EQ(minor_x, 2);
}

TEST(BitmapShapes, PolygonTriangleFillAndOutline) {
    qorl_bitmap b = blank(14, 13);
    const polygon_point triangle[] = {{0, 0}, {10, 0}, {0, 10}};
    b.DrawPolygon(3, triangle, 0, 0, white, fill);
    pixel_grid g = read_pixels(b);
    for (int y = 0; y < 13; y++) {
        for (int x = 0; x < 14; x++) {
            // Row 0 is the outline's horizontal edge; rows 1..10 are filled from 0 to 10 - y,
            // with the outline over both ends.
            char want = '.';
            if (y == 0 && x <= 10)
                want = 'o';
            else if (y >= 1 && y <= 10 && (x == 0 || x == 10 - y))
                want = 'o';
            else if (y >= 1 && y <= 10 && x < 10 - y)
                want = 'f';
            const rgba &p = g.at(x, y);
            char got = p[0] == 255 ? 'o' : (p[1] == 200 ? 'f' : (p[1] == 0 ? '.' : '?'));
            ASSERT_EQ(got, want) << "pixel " << x << "," << y;
        }
    }
}

TEST(BitmapShapes, PolygonOffsetsAndEvenOddHole) {
    // A square ring drawn as one outline: the inner square is a hole by the even-odd rule.
    const polygon_point ring[] = {{0, 0}, {8, 0}, {8, 8}, {0, 8}, {0, 0},
                                  {2, 2}, {2, 6}, {6, 6}, {6, 2}, {2, 2}};
    qorl_bitmap b = blank(14, 14);
    b.DrawPolygon(10, ring, 3, 4, ink, fill);
    rgba p{};
    b.GetPixelRGBA(3 + 1, 4 + 4, p.data());
    EXPECT_EQ(p[1], 200) << "the ring is filled";
    b.GetPixelRGBA(3 + 4, 4 + 4, p.data());
    EXPECT_EQ(p[1], 0) << "the hole is not";
    b.GetPixelRGBA(3 + 8, 4 + 8, p.data());
    EXPECT_EQ(p[0], 200) << "outline corner, shifted";
}

TEST(BitmapShapes, PolygonPointCountLimits) {
    struct row {
        int count;
        bool draws;
        const char *message;
    };
    const row rows[] = {
        {2, false,
         "Error in qorl_bitmap::DrawPolygon(), only got 2 points, need a minimum of 3.\n"},
        {3, true, ""},
        {999, true, ""},
        {1000, false, "Error in qorl_bitmap::DrawPolygon(), got 1000 points, max is 1000.\n"},
    };
    std::vector<polygon_point> points(1000);
    for (size_t i = 0; i < points.size(); i++) {
        double a = 2 * M_PI * double(i) / 997.0;
        points[i] = {int32_t(std::lround(10 + 8 * std::cos(a))),
                     int32_t(std::lround(10 + 8 * std::sin(a)))};
    }
    for (const row &r : rows) {
        SCOPED_TRACE(r.count);
        qorl_bitmap b = blank(21, 21);
        new_log_text();
        b.DrawPolygon(r.count, points.data(), 0, 0, white, fill);
        bool drew = false;
        for (const rgba &p : read_pixels(b).pixels)
            drew = drew || p[1] != 0;
        EXPECT_EQ(drew, r.draws);
        EXPECT_EQ(new_log_text(), r.message);
    }
}

TEST(BitmapShapes, GradientRectangles) {
    // From 0 to 255 a one-line rectangle gets the midpoint 127; over 255 lines, line k gets
    // 255 * k / 256: 0 first, 254 last; clipped on the start, the gradient begins at the edge.
    struct row {
        const char *name;
        int first, last;         // along the gradient
        std::vector<int> probes; // positions in the bitmap
        std::vector<int> values;
    };
    const row rows[] = {
        {"one line", 3, 3, {2, 3, 4}, {9, 127, 9}},
        {"255 lines", 0, 254, {0, 1, 127, 254, 255}, {0, 1, 127, 254, 9}},
        {"reversed corners", 254, 0, {0, 254}, {0, 254}},
        {"clipped at the start", -10, 9, {0, 9, 10}, {12, 121, 9}},
    };
    for (bool along_x : {true, false}) {
        for (const row &r : rows) {
            SCOPED_TRACE(std::string(r.name) + (along_x ? " (x)" : " (y)"));
            qorl_bitmap b = along_x ? blank(260, 3) : blank(3, 260);
            b.Clear({9, 9, 9});
            if (along_x)
                b.DrawXGradientRectangle(r.first, 0, r.last, 2, black, white);
            else
                b.DrawYGradientRectangle(0, r.first, 2, r.last, black, white);
            for (size_t i = 0; i < r.probes.size(); i++) {
                for (int across = 0; across < 3; across++) {
                    rgba p{};
                    int x = along_x ? r.probes[i] : across;
                    int y = along_x ? across : r.probes[i];
                    b.GetPixelRGBA(x, y, p.data());
                    EXPECT_EQ(p[0], r.values[i]) << "at " << r.probes[i];
                }
            }
        }
    }
}

TEST(BitmapShapes, FilledCircles) {
    struct row {
        int radius;
        picture expected;
    };
    const row rows[] = {
        {0, {".....", ".....", "..#..", ".....", "....."}},
        {-4, {".....", ".....", "..#..", ".....", "....."}},
        {1, {".....", ".###.", ".###.", ".###.", "....."}},
        {2, {".###.", "#####", "#####", "#####", ".###."}},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.radius);
        qorl_bitmap b = blank(5, 5);
        b.DrawFilledCircle(2, 2, r.radius, ink);
        EXPECT_EQ(ink_map(b, ink), r.expected);
    }
    qorl_bitmap clipped = blank(5, 5);
    clipped.DrawFilledCircle(0, 4, 2, ink);
    EXPECT_EQ(ink_map(clipped, ink), (picture{".....", ".....", "##...", "###..", "###.."}));
    qorl_bitmap away = blank(5, 5);
    away.DrawFilledCircle(2, -3, 2, ink);
    away.DrawFilledCircle(2, 7, 2, ink);
    away.DrawFilledCircle(-3, 2, 2, ink);
    EXPECT_EQ(ink_map(away, ink), picture(5, "....."));
}

TEST(BitmapShapes, OnlyClearAndClearAlphaWriteAlpha) {
    qorl_bitmap glyph = blank(3, 3);
    glyph.SetPixelRGB(1, 1, 0, 255, 0);
    glyph.SetPixelRGB(2, 1, 0, 90, 0);
    glyph_font font;
    font.set_glyph('A', new qorl_bitmap(glyph));
    qorl_bitmap source = patterned_bitmap(9, 9, 3);
    const polygon_point triangle[] = {{1, 1}, {11, 3}, {4, 11}};

    const std::pair<const char *, std::function<void(qorl_bitmap &)>> operations[] = {
        {"SetPixel", [](qorl_bitmap &b) { b.SetPixel(3, 4, ink); }},
        {"SetPixelRGB", [](qorl_bitmap &b) { b.SetPixelRGB(5, 2, 1, 2, 3); }},
        {"DrawFilledRectangle", [](qorl_bitmap &b) { b.DrawFilledRectangle(-1, 2, 20, 7, ink); }},
        {"DrawBitmap", [&](qorl_bitmap &b) { b.DrawBitmap(source, 2, -1); }},
        {"DrawBitmapNukeAlpha", [&](qorl_bitmap &b) { b.DrawBitmapNukeAlpha(source, -2, 3); }},
        {"DrawLine", [](qorl_bitmap &b) { b.DrawLine(0, 11, 11, 0, ink); }},
        {"DrawGradientLine", [](qorl_bitmap &b) { b.DrawGradientLine(0, 0, 11, 5, ink, white); }},
        {"DrawPolygon", [&](qorl_bitmap &b) { b.DrawPolygon(3, triangle, 0, 0, white, fill); }},
        {"DrawXGradientRectangle",
         [](qorl_bitmap &b) { b.DrawXGradientRectangle(1, 1, 10, 10, black, white); }},
        {"DrawYGradientRectangle",
         [](qorl_bitmap &b) { b.DrawYGradientRectangle(1, 1, 10, 10, white, ink); }},
        {"DrawFilledCircle", [](qorl_bitmap &b) { b.DrawFilledCircle(6, 6, 4, ink); }},
        {"DrawTextGlyph", [&](qorl_bitmap &b) { b.DrawTextGlyph(glyph, 4, 4, white, ink); }},
        {"DrawTextGlyphTransparent",
         [&](qorl_bitmap &b) { b.DrawTextGlyphTransparent(glyph, 4, 4, white); }},
        {"DrawGlyphText", [&](qorl_bitmap &b) { b.DrawGlyphText(font, "AAA", 1, 1, white, ink); }},
        {"DrawGlyphTextTransparent",
         [&](qorl_bitmap &b) { b.DrawGlyphTextTransparent(font, "AA", 1, 7, ink); }},
    };
    for (const auto &op : operations) {
        SCOPED_TRACE(op.first);
        qorl_bitmap b = patterned_bitmap(12, 12, 4);
        pixel_grid before = read_pixels(b);
        op.second(b);
        pixel_grid after = read_pixels(b);
        EXPECT_NE(after, before) << "the operation should draw something";
        for (size_t i = 0; i < before.pixels.size(); i++)
            ASSERT_EQ(after.pixels[i][3], before.pixels[i][3]) << "pixel " << i;
    }
}

} // namespace
