// The compiled-in splash picture: a 480 x 300 palette PNG with a black band from row 204.
#include "graphics/pixel_bitmap.h"
#include "resources/splash_image.h"
#include "tests/graphics/wx_environment.h"

#include <gtest/gtest.h>

#include <wx/image.h>
#include <wx/mstream.h>

namespace {

wxImage decode_splash() {
    wxMemoryInputStream in(splash_png, splash_png_size);
    wxImage image;
    image.LoadFile(in, wxBITMAP_TYPE_PNG);
    return image;
}

TEST(SplashImage, IsAPalettePngOfTheWindowSize) {
    ASSERT_GT(splash_png_size, 33u);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(splash_png) + 1, 3), "PNG");
    EXPECT_EQ(splash_png[24], 8) << "bit depth";
    EXPECT_EQ(splash_png[25], 3) << "colour type: palette";
    wxImage image = decode_splash();
    ASSERT_TRUE(image.IsOk());
    EXPECT_EQ(image.GetWidth(), 480);
    EXPECT_EQ(image.GetHeight(), 300);
}

TEST(SplashImage, BlackBandUnderTheArtworkAndArtworkAboveIt) {
    wxImage image = decode_splash();
    ASSERT_TRUE(image.IsOk());
    // The status lines and the bar stand on rows 204 and below.
    for (int y = 204; y < 300; y++)
        for (int x = 0; x < 480; x++)
            ASSERT_LE(std::max({image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y)}), 12)
                << "pixel " << x << "," << y;
    int lit = 0;
    for (int y = 0; y < 204; y++)
        for (int x = 0; x < 480; x++)
            lit += image.GetRed(x, y) + image.GetGreen(x, y) + image.GetBlue(x, y) > 120;
    EXPECT_GT(lit, 480 * 204 / 4) << "the artwork is not a black picture";
}

TEST(SplashImage, DrawsIntoABackBuffer) {
    // The launcher copies the picture into its window's buffer with DrawBitmap.
    wxImage image = decode_splash();
    qorl_bitmap splash(image);
    ASSERT_EQ(splash.GetWidth(), 480);
    qorl_bitmap buffer(480, 300);
    buffer.Clear({1, 2, 3});
    buffer.DrawBitmap(splash, 0, 0);
    const int probes[][2] = {{0, 0}, {240, 100}, {479, 203}, {10, 280}, {479, 299}};
    for (const auto &xy : probes) {
        rgba p{};
        buffer.GetPixelRGBA(xy[0], xy[1], p.data());
        EXPECT_EQ(p, (rgba{image.GetRed(xy[0], xy[1]), image.GetGreen(xy[0], xy[1]),
                           image.GetBlue(xy[0], xy[1]), 255}))
            << xy[0] << "," << xy[1];
    }
}

} // namespace
