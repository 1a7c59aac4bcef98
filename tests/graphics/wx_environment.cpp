// Brings up the toolkit for the graphics tests and provides their pixel and log helpers.
#include "tests/graphics/wx_environment.h"

#include "client/debug_log.h"
#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <memory>

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/image.h>
#include <wx/init.h>

const char graphics_test_log_path[] = "/tmp/graphics_test_log.txt";

namespace {

class wx_environment : public ::testing::Environment {
  public:
    void SetUp() override {
        qorl_client_set_debug_logfile_name(graphics_test_log_path);
        wxApp::SetInstance(new wxApp());
        static char name[] = "graphics_test";
        static char *argv[] = {name, nullptr};
        static int argc = 1;
        ASSERT_TRUE(wxEntryStart(argc, argv)) << "no display?";
        ASSERT_TRUE(wxTheApp->CallOnInit());
        if (wxImage::FindHandler(wxBITMAP_TYPE_PNG) == nullptr)
            wxImage::AddHandler(new wxPNGHandler);
        loop = std::make_unique<wxGUIEventLoop>();
        wxEventLoopBase::SetActive(loop.get());
    }
    void TearDown() override {
        wxEventLoopBase::SetActive(nullptr);
        loop.reset();
        wxEntryCleanup();
    }

  private:
    std::unique_ptr<wxGUIEventLoop> loop;
};

::testing::Environment *const environment = ::testing::AddGlobalTestEnvironment(new wx_environment);

size_t log_seen = 0;

} // namespace

std::string new_log_text() {
    std::string all = file_exists(graphics_test_log_path) ? read_file(graphics_test_log_path) : "";
    std::string fresh = all.size() > log_seen ? all.substr(log_seen) : "";
    log_seen = all.size();
    return fresh;
}

bool pump_events_until(const std::function<bool()> &done, int timeout_ms) {
    return wait_until(
        [&] {
            wxTheApp->ProcessPendingEvents();
            wxEventLoopBase::GetActive()->YieldFor(wxEVT_CATEGORY_ALL);
            return done();
        },
        timeout_ms);
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
