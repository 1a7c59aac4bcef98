// Window widgets: the frame's names, back buffers that follow the size set, the progress bar's
// columns and repaints, and the animation list.
#include "graphics/widgets.h"
#include "tests/graphics/wx_environment.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

// An embedded window that records its redraws and animation ticks.
class recording_window : public qorl_embedded_window {
  public:
    recording_window(wxWindow *parent, const wxSize &size, int keep_animating = 1)
        : qorl_embedded_window(parent, wxID_ANY, "recording", wxDefaultPosition, size,
                               wxBORDER_NONE),
          keep_animating(keep_animating) {}
    void redraw(bool resized) override { redraws.push_back(resized); }
    void draw_contents(qorl_bitmap *buffer) override { buffer->Clear({1, 2, 3}); }
    int animation_callback(int elapsed_ms) override {
        ticks.push_back(elapsed_ms);
        return keep_animating;
    }

    std::vector<bool> redraws;
    std::vector<int> ticks;
    int keep_animating;
};

// A window that keeps the base class's animation callback.
class plain_window : public qorl_embedded_window {
  public:
    explicit plain_window(wxWindow *parent)
        : qorl_embedded_window(parent, wxID_ANY, "plain", wxDefaultPosition, wxDefaultSize, 0) {}
    void redraw(bool) override {}
    void draw_contents(qorl_bitmap *) override {}
};

// A progress bar that counts the repaints it asks for.
class counting_bar : public qorl_progress_bar {
  public:
    explicit counting_bar(wxWindow *parent)
        : qorl_progress_bar(parent, wxID_ANY, "Downloader progress bar") {}
    void redraw(bool resized) override {
        redraws++;
        qorl_progress_bar::redraw(resized);
    }
    int redraws = 0;
};

// The colour at (x, y) of the X display as "r,g,b", read from a screenshot.
std::string screen_pixel(int x, int y) {
    std::string format = "%[fx:int(255*p{" + std::to_string(x) + "," + std::to_string(y) +
                         "}.r+0.5)],%[fx:int(255*p{" + std::to_string(x) + "," + std::to_string(y) +
                         "}.g+0.5)],%[fx:int(255*p{" + std::to_string(x) + "," + std::to_string(y) +
                         "}.b+0.5)]";
    process_result r = run_process(
        {"/bin/sh", "-c", "xwd -root -silent | convert xwd:- -format '" + format + "' info:"}, {},
        10000);
    return r.exit_code == 0 ? r.output : "screenshot failed: " + r.output;
}

class Widgets : public ::testing::Test {
  protected:
    void SetUp() override {
        frame = new qorl_frame(nullptr, wxID_ANY, "Widget Test", wxDefaultPosition,
                               wxSize(480, 300), wxDEFAULT_FRAME_STYLE);
    }
    void TearDown() override {
        frame->Destroy();
        pump_events_until([] { return false; }, 40);
    }
    qorl_frame *frame = nullptr;
};

TEST_F(Widgets, FrameTitleAndName) {
    EXPECT_EQ(frame->GetTitle(), "Widget Test");
    EXPECT_EQ(frame->GetName(), "qorl frame Widget Test");
}

TEST_F(Widgets, BackBufferFollowsTheSizeSetThroughTheWindow) {
    auto *w = new recording_window(frame, wxDefaultSize);
    qorl_bitmap *buffer = w->get_back_buffer();
    EXPECT_EQ(buffer->GetWidth(), 1);
    EXPECT_EQ(buffer->GetHeight(), 1);

    w->set_position_and_size(10, 280, 460, 10);
    EXPECT_EQ(w->get_back_buffer()->GetWidth(), 460);
    EXPECT_EQ(w->get_back_buffer()->GetHeight(), 10);
    EXPECT_EQ(w->GetSize(), wxSize(460, 10));
    EXPECT_EQ(w->GetPosition(), wxPoint(10, 280));
    rgba p{};
    w->get_back_buffer()->GetPixelRGBA(459, 9, p.data());
    EXPECT_EQ(p[3], 255) << "a new buffer is opaque";

    buffer = w->get_back_buffer();
    w->set_position_and_size(20, 30, 460, 10);
    EXPECT_EQ(w->get_back_buffer(), buffer) << "same size keeps the buffer";
    EXPECT_EQ(w->GetPosition(), wxPoint(20, 30));

    w->set_size(0, -5);
    EXPECT_EQ(w->get_back_buffer()->GetWidth(), 1);
    EXPECT_EQ(w->get_back_buffer()->GetHeight(), 1);
    EXPECT_EQ(w->GetSize(), wxSize(1, 1));
    EXPECT_EQ(w->GetPosition(), wxPoint(20, 30)) << "set_size keeps the position";

    w->set_size(64, 48);
    EXPECT_EQ(w->get_back_buffer()->GetWidth(), 64);
    EXPECT_EQ(w->get_back_buffer()->GetHeight(), 48);
    w->force_redraw();
    EXPECT_EQ(w->redraws, (std::vector<bool>{true, false, true, true, true}));
}

TEST_F(Widgets, ToolkitResizeThenSameSizeRenewsTheBuffer) {
    // A size change made by the toolkit leaves the buffer behind; setting that same size
    // through the window must still give a buffer of the window's size.
    auto *w = new recording_window(frame, wxSize(30, 20));
    w->SetSize(50, 40);
    EXPECT_EQ(w->get_back_buffer()->GetWidth(), 30);
    w->set_size(50, 40);
    EXPECT_EQ(w->get_back_buffer()->GetWidth(), 50);
    EXPECT_EQ(w->get_back_buffer()->GetHeight(), 40);
    EXPECT_EQ(w->redraws, std::vector<bool>{true});
}

TEST_F(Widgets, ProgressBarColumns) {
    struct row {
        double percent;
        int filled;
    };
    const row rows[] = {
        {0, 0},       {12.5, 57}, {50, 230},   {100, 460},
        {-20, 0},     {250, 460}, {99.9, 459}, {std::numeric_limits<double>::quiet_NaN(), 0},
        {1e300, 460},
    };
    auto *bar = new qorl_progress_bar(frame, wxID_ANY, "Downloader progress bar");
    bar->set_empty_colour(32, 32, 32);
    bar->set_filled_colour(128, 128, 128);
    bar->set_position_and_size(10, 280, 460, 10);
    for (const row &r : rows) {
        SCOPED_TRACE(r.percent);
        bar->store_percent(r.percent);
        qorl_bitmap *buffer = bar->get_back_buffer();
        buffer->Clear({255, 0, 0});
        bar->draw_contents(buffer);
        pixel_grid g = read_pixels(*buffer);
        for (int y = 0; y < 10; y++) {
            for (int x = 0; x < 460; x++) {
                unsigned char want = x < r.filled ? 128 : 32;
                ASSERT_EQ(g.at(x, y), (rgba{want, want, want, 255})) << x << "," << y;
            }
        }
    }
}

TEST_F(Widgets, ProgressBarRedrawsOnlyOnChange) {
    auto *bar = new counting_bar(frame);
    EXPECT_EQ(bar->get_last_drawn_percent(), -1.0);
    bar->redraw_if_changed();
    EXPECT_EQ(bar->redraws, 1) << "-1 drawn against 0 stored";
    bar->draw_contents(bar->get_back_buffer());
    bar->redraw_if_changed();
    EXPECT_EQ(bar->redraws, 1) << "nothing new";
    bar->store_percent(12.34);
    EXPECT_EQ(bar->redraws, 1) << "store_percent alone never redraws";
    bar->redraw_if_changed();
    EXPECT_EQ(bar->redraws, 2);
    bar->set_percent(12.34);
    EXPECT_EQ(bar->redraws, 3) << "not drawn yet, so still different";
    bar->draw_contents(bar->get_back_buffer());
    bar->set_percent(12.34);
    EXPECT_EQ(bar->redraws, 3);
    bar->set_percent(std::nan(""));
    bar->draw_contents(bar->get_back_buffer());
    bar->redraw_if_changed();
    EXPECT_EQ(bar->redraws, 5) << "NaN always counts as changed";
}

TEST_F(Widgets, PaintDrawsTheBarOnScreen) {
    // As in the launcher, the bar sits inside the window that fills the frame, so the
    // frame's layout of its only child does not resize the bar.
    auto *content = new recording_window(frame, wxSize(480, 300));
    auto *bar = new qorl_progress_bar(content, wxID_ANY, "Downloader progress bar");
    bar->set_position_and_size(10, 280, 460, 10);
    frame->Show();
    bar->set_percent(50);
    ASSERT_TRUE(pump_events_until([&] { return bar->get_last_drawn_percent() == 50; }, 5000))
        << "no paint reached the bar";
    // The paint blitted the back buffer: green on the left half, black on the right.
    wxPoint origin = bar->GetScreenPosition();
    std::string left, right;
    bool shown = pump_events_until(
        [&] {
            left = screen_pixel(origin.x + 229, origin.y + 5);
            right = screen_pixel(origin.x + 230, origin.y + 5);
            return left == "0,255,0" && right == "0,0,0";
        },
        5000);
    EXPECT_TRUE(shown) << left << " and " << right;
    rgba p{};
    bar->get_back_buffer()->GetPixelRGBA(229, 5, p.data());
    EXPECT_EQ(p, (rgba{0, 255, 0, 255}));
    bar->get_back_buffer()->GetPixelRGBA(230, 5, p.data());
    EXPECT_EQ(p, (rgba{0, 0, 0, 255}));

    frame->Hide();
    bar->set_percent(75);
    pump_events_until([] { return false; }, 200);
    EXPECT_EQ(bar->get_last_drawn_percent(), 50) << "a hidden window does not draw";
}

TEST_F(Widgets, AnimationList) {
    auto *a = new recording_window(frame, wxSize(4, 4), 1);
    auto *b = new recording_window(frame, wxSize(4, 4), 0);
    auto *c = new recording_window(frame, wxSize(4, 4), 1);
    start_animation(a);
    start_animation(b);
    start_animation(c);
    start_animation(a); // already listed: once only
    run_animations(20);
    EXPECT_EQ(a->ticks, std::vector<int>{20});
    EXPECT_EQ(b->ticks, std::vector<int>{20});
    EXPECT_EQ(c->ticks, std::vector<int>{20}) << "windows after a leaving one still tick";
    run_animations(40);
    EXPECT_EQ(a->ticks, (std::vector<int>{20, 40}));
    EXPECT_EQ(b->ticks, std::vector<int>{20}) << "b returned 0 and left";
    EXPECT_EQ(c->ticks, (std::vector<int>{20, 40}));

    stop_animation(c);
    stop_animation(c);
    stop_animation(b); // not listed: nothing happens
    run_animations(20);
    EXPECT_EQ(a->ticks.size(), 3u);
    EXPECT_EQ(c->ticks.size(), 2u);

    // The base callback logs its complaint and leaves the list.
    auto *plain = new plain_window(frame);
    start_animation(plain);
    new_log_text();
    run_animations(20);
    run_animations(20);
    EXPECT_EQ(new_log_text(), "Error in qorl_embedded_window::animation_callback(), this handler "
                              "should never be called.\n");

    // A listed window that is destroyed leaves the list with it.
    a->Destroy();
    run_animations(20);
    EXPECT_EQ(c->ticks.size(), 2u);
}

} // namespace
