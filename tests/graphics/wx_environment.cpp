// Brings up the toolkit for the graphics tests and provides their pixel and log helpers.
#include "tests/graphics/wx_environment.h"

#include "client/debug_log.h"
#include "tests/support/files.h"
#include "tests/support/wx_test_env.h"

#include <gtest/gtest.h>

#include <wx/image.h>

const char graphics_test_log_path[] = "/tmp/graphics_test_log.txt";

namespace {

class wx_environment : public ::testing::Environment {
  public:
    void SetUp() override {
        qorl_client_set_debug_logfile_name(graphics_test_log_path);
        start_test_toolkit("graphics_test");
        if (::testing::Test::HasFatalFailure())
            return;
        if (wxImage::FindHandler(wxBITMAP_TYPE_PNG) == nullptr)
            wxImage::AddHandler(new wxPNGHandler);
    }
    void TearDown() override { stop_test_toolkit(); }
};

::testing::Environment *const environment = ::testing::AddGlobalTestEnvironment(new wx_environment);

file_tail log_file(graphics_test_log_path);

} // namespace

std::string new_log_text() {
    return log_file.fresh();
}

bool pump_events_until(const std::function<bool()> &done, int timeout_ms) {
    return pump_test_toolkit_until(done, timeout_ms, false);
}

pixel_grid read_pixels(const qorl_bitmap &bitmap) {
    pixel_grid grid;
    grid.width = bitmap.GetWidth();
    grid.height = bitmap.GetHeight();
    grid.pixels.resize(size_t(grid.width) * grid.height);
    for (int y = 0; y < grid.height; y++)
        for (int x = 0; x < grid.width; x++)
            bitmap.GetPixelRGBA(x, y, grid.pixels[size_t(y) * grid.width + x].data());
    return grid;
}

std::vector<std::string> ink_map(const qorl_bitmap &bitmap, const pixel_colour &ink) {
    pixel_grid grid = read_pixels(bitmap);
    std::vector<std::string> rows;
    for (int y = 0; y < grid.height; y++) {
        std::string row;
        for (int x = 0; x < grid.width; x++) {
            const rgba &p = grid.at(x, y);
            bool is_ink = p[0] == (ink.r & 255) && p[1] == (ink.g & 255) && p[2] == (ink.b & 255);
            row += is_ink ? '#' : '.';
        }
        rows.push_back(row);
    }
    return rows;
}

qorl_bitmap patterned_bitmap(int width, int height, int seed) {
    wxImage image(width, height);
    image.InitAlpha();
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            int v = x * 7 + y * 31 + seed * 13;
            image.SetRGB(x, y, (v + 11) & 255, (v * 3 + 5) & 255, (v * 5 + 1) & 255);
            image.SetAlpha(x, y, (v * 11 + 3) % 255);
        }
    }
    return qorl_bitmap(image);
}
