// qorl_bitmap core: construction, pixels, clearing, filled rectangles and bitmap copies.
#include "graphics/pixel_bitmap.h"
#include "tests/graphics/wx_environment.h"

#include <gtest/gtest.h>

namespace {

const pixel_colour background = {10, 20, 30};
const pixel_colour ink = {200, 100, 50};

qorl_bitmap cleared(int width, int height) {
    qorl_bitmap b(width, height);
    b.Clear(background);
    return b;
}

TEST(PixelBitmap, ConstructionSizesAndOpaqueAlpha) {
    struct row {
        int width, height;
        int expect_width, expect_height;
    };
    const row rows[] = {{16, 16, 16, 16}, {7, 3, 7, 3}, {0, 5, 0, 0}, {5, -1, 0, 0}};
    for (const row &r : rows) {
        SCOPED_TRACE(std::to_string(r.width) + "x" + std::to_string(r.height));
        qorl_bitmap b(r.width, r.height);
        EXPECT_EQ(b.GetWidth(), r.expect_width);
        EXPECT_EQ(b.GetHeight(), r.expect_height);
        pixel_grid g = read_pixels(b);
        for (const rgba &p : g.pixels)
            ASSERT_EQ(p[3], 255);
    }
    qorl_bitmap d;
    EXPECT_EQ(d.GetWidth(), 16);
    EXPECT_EQ(d.GetHeight(), 16);
}

TEST(PixelBitmap, EmptyBitmapDrawsNothing) {
    qorl_bitmap empty(0, 0);
    empty.SetPixel(0, 0, ink);
    empty.Clear(ink);
    empty.DrawFilledRectangle(0, 0, 3, 3, ink);
    qorl_bitmap target = cleared(4, 4);
    pixel_grid before = read_pixels(target);
    target.DrawBitmap(empty, 0, 0);
    EXPECT_EQ(read_pixels(target), before);
    EXPECT_FALSE(empty.IsOk());
}

TEST(PixelBitmap, ImagesWithAndWithoutAlpha) {
    wxImage plain(3, 2);
    plain.SetRGB(2, 1, 9, 8, 7);
    qorl_bitmap from_plain(plain);
    rgba p{};
    ASSERT_EQ(from_plain.GetPixelRGBA(2, 1, p.data()), 1);
    EXPECT_EQ(p, (rgba{9, 8, 7, 255}));

    wxImage with_alpha(1, 1);
    with_alpha.InitAlpha();
    with_alpha.SetRGB(0, 0, 1, 2, 3);
    with_alpha.SetAlpha(0, 0, 77);
    ASSERT_EQ(qorl_bitmap(with_alpha).GetPixelRGBA(0, 0, p.data()), 1);
    EXPECT_EQ(p, (rgba{1, 2, 3, 77}));

    qorl_bitmap failed{wxImage()};
    EXPECT_EQ(failed.GetWidth(), 0);
}

TEST(PixelBitmap, CopiesShareNoPixels) {
    qorl_bitmap original = patterned_bitmap(5, 4, 2);
    pixel_grid before = read_pixels(original);
    qorl_bitmap copy(original);
    qorl_bitmap assigned(2, 2);
    assigned = original;
    EXPECT_EQ(read_pixels(copy), before);
    EXPECT_EQ(read_pixels(assigned), before);
    copy.Clear(ink);
    assigned.SetPixel(0, 0, ink);
    EXPECT_EQ(read_pixels(original), before);
}

TEST(PixelBitmap, SetPixelStoresLowBytesAndClipsEachPixel) {
    qorl_bitmap b = cleared(4, 3);
    b.SetPixelRGB(1, 2, 256 + 5, -1, 0x1234);
    rgba p{};
    b.GetPixelRGBA(1, 2, p.data());
    EXPECT_EQ(p, (rgba{5, 255, 0x34, 255}));

    pixel_grid before = read_pixels(b);
    const int outside[][2] = {{-1, 0}, {0, -1}, {4, 0}, {0, 3}, {1000, 1000}, {-5, 2}};
    for (const auto &xy : outside)
        b.SetPixel(xy[0], xy[1], ink);
    EXPECT_EQ(read_pixels(b), before);
}

TEST(PixelBitmap, ClearSetsAlphaAndClearAlphaKeepsColours) {
    qorl_bitmap b = patterned_bitmap(4, 3, 3);
    pixel_grid before = read_pixels(b);
    b.ClearAlpha();
    pixel_grid after = read_pixels(b);
    for (size_t i = 0; i < after.pixels.size(); i++) {
        EXPECT_EQ(after.pixels[i][3], 255);
        for (int c = 0; c < 3; c++)
            EXPECT_EQ(after.pixels[i][c], before.pixels[i][c]);
    }
    qorl_bitmap c = patterned_bitmap(4, 3, 4);
    c.Clear({300, 20, -2});
    for (const rgba &p : read_pixels(c).pixels)
        ASSERT_EQ(p, (rgba{44, 20, 254, 255}));
}

TEST(PixelBitmap, FilledRectangleOrderAndClipping) {
    // Expected painted rectangle after clipping to the 8 x 6 bitmap, or none.
    struct row {
        const char *name;
        int x0, y0, x1, y1;
        bool painted;
        int ex0, ey0, ex1, ey1;
    };
    const row rows[] = {
        {"in order", 1, 2, 4, 3, true, 1, 2, 4, 3},
        {"corners swapped", 4, 3, 1, 2, true, 1, 2, 4, 3},
        {"one pixel", 5, 5, 5, 5, true, 5, 5, 5, 5},
        {"over every edge", -3, -2, 20, 30, true, 0, 0, 7, 5},
        {"over the right edge", 6, 1, 9, 1, true, 6, 1, 7, 1},
        {"swapped over top-left", 2, 1, -4, -4, true, 0, 0, 2, 1},
        {"left of it", -5, 0, -1, 5, false, 0, 0, 0, 0},
        {"above it", 0, -3, 7, -1, false, 0, 0, 0, 0},
        {"right of it", 8, 0, 12, 5, false, 0, 0, 0, 0},
        {"below it", 0, 6, 7, 9, false, 0, 0, 0, 0},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.name);
        qorl_bitmap b = patterned_bitmap(8, 6, 5);
        pixel_grid before = read_pixels(b);
        b.DrawFilledRectangle(r.x0, r.y0, r.x1, r.y1, ink);
        pixel_grid after = read_pixels(b);
        for (int y = 0; y < 6; y++) {
            for (int x = 0; x < 8; x++) {
                bool inside = r.painted && x >= r.ex0 && x <= r.ex1 && y >= r.ey0 && y <= r.ey1;
                rgba want = before.at(x, y);
                if (inside)
                    want = {200, 100, 50, want[3]};
                ASSERT_EQ(after.at(x, y), want) << "pixel " << x << "," << y;
            }
        }
    }
}

TEST(PixelBitmap, DrawBitmapCopiesTheOverlapAndKeepsDestinationAlpha) {
    // The source is larger than the destination; each position must copy exactly the
    // overlapping pixels, leave the rest, and keep the destination's alpha.
    qorl_bitmap source = patterned_bitmap(12, 10, 6);
    pixel_grid src = read_pixels(source);
    const int positions[][2] = {{-3, -2}, {-11, -9}, {5, 4}, {0, 0}, {-12, 0}, {8, 2}, {-3, 6}};
    for (const auto &pos : positions) {
        int px = pos[0], py = pos[1];
        SCOPED_TRACE(std::to_string(px) + "," + std::to_string(py));
        qorl_bitmap dest = patterned_bitmap(8, 6, 7);
        pixel_grid before = read_pixels(dest);
        dest.DrawBitmap(source, px, py);
        pixel_grid after = read_pixels(dest);
        for (int y = 0; y < 6; y++) {
            for (int x = 0; x < 8; x++) {
                int sx = x - px, sy = y - py;
                rgba want = before.at(x, y);
                if (sx >= 0 && sx < 12 && sy >= 0 && sy < 10) {
                    const rgba &s = src.at(sx, sy);
                    want = {s[0], s[1], s[2], want[3]};
                }
                ASSERT_EQ(after.at(x, y), want) << "pixel " << x << "," << y;
            }
        }
    }
}

TEST(PixelBitmap, DrawBitmapOntoItselfReadsTheOriginal) {
    qorl_bitmap b = patterned_bitmap(6, 5, 8);
    pixel_grid before = read_pixels(b);
    b.DrawBitmap(b, 1, 1);
    pixel_grid after = read_pixels(b);
    for (int y = 1; y < 5; y++)
        for (int x = 1; x < 6; x++)
            for (int c = 0; c < 3; c++)
                ASSERT_EQ(after.at(x, y)[c], before.at(x - 1, y - 1)[c]);
}

TEST(PixelBitmap, DrawBitmapNukeAlphaComposesOverBlack) {
    struct row {
        unsigned char r, g, b, a;
        rgba expected_rgb;
    };
    const row rows[] = {
        {255, 255, 255, 255, {254, 254, 254, 0}},
        {255, 128, 7, 0, {0, 0, 0, 0}},
        {200, 100, 50, 128, {100, 50, 25, 0}},
        {255, 0, 64, 1, {0, 0, 0, 0}},
    };
    wxImage image(4, 1);
    image.InitAlpha();
    for (int i = 0; i < 4; i++) {
        image.SetRGB(i, 0, rows[i].r, rows[i].g, rows[i].b);
        image.SetAlpha(i, 0, rows[i].a);
    }
    qorl_bitmap source(image);
    qorl_bitmap dest = patterned_bitmap(6, 3, 9);
    pixel_grid before = read_pixels(dest);
    dest.DrawBitmapNukeAlpha(source, 1, 2);
    pixel_grid after = read_pixels(dest);
    for (int x = 0; x < 6; x++) {
        for (int y = 0; y < 3; y++) {
            rgba want = before.at(x, y);
            if (y == 2 && x >= 1 && x <= 4) {
                const rgba &e = rows[x - 1].expected_rgb;
                want = {e[0], e[1], e[2], want[3]};
            }
            ASSERT_EQ(after.at(x, y), want) << "pixel " << x << "," << y;
        }
    }
}

} // namespace
