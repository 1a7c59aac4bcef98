// The launcher window in-process: status lines, progress hand-over, keys, display size.
#include "client/debug_log.h"
#include "client/directories.h"
#include "launcher/app.h"
#include "launcher/boot_sequence.h"
#include "launcher/config_file.h"
#include "launcher/launcher_state.h"
#include "tests/launcher/window_env.h"
#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

class window_test : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_launcher_state();
        frame = open_launcher_window();
    }
    void TearDown() override {
        dispose_window(frame);
        reset_launcher_state();
    }
    launcher_mw &mw() { return frame->mw; }
    std::string info() { return mw().info_text->GetLabel().ToStdString(); }
    std::string status() { return mw().status_text->GetLabel().ToStdString(); }
    void press(int key_code) {
        wxKeyEvent event(wxEVT_KEY_DOWN);
        event.m_keyCode = key_code;
        event.SetEventObject(&mw());
        mw().GetEventHandler()->ProcessEvent(event);
        EXPECT_TRUE(event.GetSkipped()) << "the toolkit's own key handling must still see it";
    }

    launcher_frame *frame = nullptr;
};

TEST_F(window_test, status_lines_follow_options_beta_and_progress) {
    struct status_case {
        int options_shown, beta, started;
        double percent;
        const char *info, *status;
    };
    const status_case cases[] = {
        {0, 0, 0, 0.0, "(press 'escape' for options)", ""},
        {0, 0, 1, 0.0, "(press 'escape' for options)", "Checking for updates..."},
        {0, 1, 1, 0.0, "(beta test mode - press 'escape' for options)", "Checking for updates..."},
        {0, 0, 1, 12.34, "(press 'escape' for options)", "Downloading - 12.3%"},
        {0, 1, 0, 100.0, "(beta test mode - press 'escape' for options)", "Downloading - 100.0%"},
        {0, 0, 1, -5.0, "(press 'escape' for options)", "Checking for updates..."},
        {1, 0, 1, 12.34, "Launcher Version: 1.095-gtk-rc4",
         "Press 'escape' to continue, 'b' to enter BETA TEST mode."},
        {1, 1, 0, 0.0, "Launcher Version: 1.095-gtk-rc4 - beta test mode enabled",
         "Press 'escape' to continue, 'b' to leave BETA TEST mode."},
    };
    for (const status_case &c : cases) {
        SCOPED_TRACE(testing::Message() << "options " << c.options_shown << " beta " << c.beta
                                        << " started " << c.started << " percent " << c.percent);
        mw().options_shown = c.options_shown;
        beta_mode = c.beta;
        updater_started = c.started;
        mw().progress_bar->store_percent(c.percent);
        mw().update_status_texts();
        EXPECT_EQ(info(), c.info);
        EXPECT_EQ(status(), c.status);
    }
}

TEST_F(window_test, lines_show_the_title_until_the_first_update_then_white_text) {
    EXPECT_EQ(info(), "Duskmere Launcher");
    EXPECT_EQ(status(), "Duskmere Launcher");
    mw().update_status_texts();
    EXPECT_EQ(mw().info_text->GetForegroundColour(), *wxWHITE);
    EXPECT_EQ(mw().status_text->GetForegroundColour(), *wxWHITE);
    EXPECT_EQ(mw().info_text->GetPosition(), wxPoint(10, 240));
    EXPECT_EQ(mw().status_text->GetPosition(), wxPoint(10, 260));
    EXPECT_EQ(mw().progress_bar->GetPosition(), wxPoint(10, 280));
    EXPECT_EQ(mw().progress_bar->GetSize(), wxSize(460, 10));
}

// The worker only stores and queues; the GUI thread redraws the bar and the line.
TEST_F(window_test, progress_from_another_thread_reaches_bar_and_status_line) {
    frame->Show();
    updater_started = 1;
    mw().update_status_texts();
    std::thread([&] { mw().report_progress(0.0); }).join();
    pump_events_until([] { return false; }, 200);
    EXPECT_EQ(status(), "Checking for updates...");

    std::thread([&] { mw().report_progress(12.34); }).join();
    EXPECT_TRUE(pump_events_until([&] { return status() == "Downloading - 12.3%"; }, 3000))
        << status();
    EXPECT_TRUE(pump_events_until(
        [&] { return mw().progress_bar->get_last_drawn_percent() == 12.34; }, 3000))
        << "the bar was not repainted with the new value";
    updater_started = 0; // no run was really started
}

TEST_F(window_test, escape_flips_the_options_display) {
    mw().update_status_texts();
    press(27);
    EXPECT_EQ(mw().options_shown, 1);
    EXPECT_EQ(info(), "Launcher Version: 1.095-gtk-rc4");
    press(27);
    EXPECT_EQ(mw().options_shown, 0);
    EXPECT_EQ(info(), "(press 'escape' for options)");
    press('X'); // other keys change nothing
    EXPECT_EQ(mw().options_shown, 0);
}

TEST_F(window_test, b_during_a_run_switches_mode_saves_it_and_starts_nothing) {
    mw().options_shown = 1;
    press(66);
    EXPECT_EQ(beta_mode.load(), 1);
    EXPECT_EQ(info(), "Launcher Version: 1.095-gtk-rc4 - beta test mode enabled");
    EXPECT_EQ(status(), "Press 'escape' to continue, 'b' to leave BETA TEST mode.");
    EXPECT_NE(read_file(config_directory() + "/launcher.cfg").find("1</beta_test_enable>"),
              std::string::npos)
        << read_file(config_directory() + "/launcher.cfg");
    EXPECT_EQ(updater_started.load(), 0);
    EXPECT_EQ(lock_fd.load(), -1);
    press(66);
    EXPECT_EQ(beta_mode.load(), 0);
    EXPECT_NE(read_file(config_directory() + "/launcher.cfg").find("0</beta_test_enable>"),
              std::string::npos);
}

// Once a run is over, B fetches the images of the new mode before the boot.
TEST_F(window_test, b_after_a_finished_run_takes_the_lock_and_starts_another) {
    updater_finished = 1;
    press(66);
    EXPECT_EQ(updater_started.load(), 1);
    EXPECT_GE(lock_fd.load(), 0);
    EXPECT_NE(new_log_text().find("OnTimer(), late start of updater thread.\n"), std::string::npos);
    EXPECT_EQ(status(), "Checking for updates...");
    // No server answers inside the sandbox: the run ends by itself and gives the lock back.
    EXPECT_TRUE(wait_until([] { return updater_finished.load() != 0; }, 15000));
}

TEST(display_size, bogus_sizes_fall_back_to_640_by_480) {
    struct size_case {
        int width, height, want_width, want_height;
        const char *log;
    };
    const size_case cases[] = {
        {1024, 768, 1024, 768, "OnInit(), got screen/display size of 1024, 768.\n"},
        {0, 768, 640, 768,
         "Error in OnInit(), got bogus screen/display xsize of 0.  Setting to 640.\n"
         "OnInit(), got screen/display size of 640, 768.\n"},
        {800, -3, 800, 480,
         "Error in OnInit(), got bogus screen/display ysize of -3.  Setting to 480.\n"
         "OnInit(), got screen/display size of 800, 480.\n"},
        {-1, 0, 640, 480,
         "Error in OnInit(), got bogus screen/display xsize of -1.  Setting to 640.\n"
         "Error in OnInit(), got bogus screen/display ysize of 0.  Setting to 480.\n"
         "OnInit(), got screen/display size of 640, 480.\n"},
    };
    const int32_t saved_level = log_level;
    log_level = 2;
    new_log_text();
    for (const size_case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
        set_screen_size(c.width, c.height);
        EXPECT_EQ(screen_width, c.want_width);
        EXPECT_EQ(screen_height, c.want_height);
        EXPECT_EQ(new_log_text(), c.log);
    }
    log_level = saved_level;
}

} // namespace
