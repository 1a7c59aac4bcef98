// The boot step in-process, its clock driven by hand and the image start recorded instead of run.
#include "client/directories.h"
#include "launcher/boot_sequence.h"
#include "launcher/launcher_state.h"
#include "tests/launcher/window_env.h"
#include "tests/support/files.h"
#include "updater/file_manifest.h"

#include <gtest/gtest.h>

#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct exec_call {
    std::string path;
    std::vector<std::string> argv;
    std::string crash_file; // bootname.txt as it was when the start was tried
};
std::vector<exec_call> exec_calls;

// Stands in for the image start: records it and fails, as a missing image would.
void record_exec(const char *path, char *const argv[]) {
    exec_call call;
    call.path = path;
    for (int i = 0; argv[i] != nullptr; i++)
        call.argv.push_back(argv[i]);
    call.crash_file = read_file(boot_name_path.text);
    exec_calls.push_back(call);
}

class boot_step_test : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_launcher_state();
        exec_calls.clear();
        boot_exec_function = record_exec;
        unlink(boot_name_path.text);
        unlink(manifest_path.text);
        frame = open_launcher_window();
    }
    void TearDown() override {
        dispose_window(frame);
        boot_exec_function = qorl_boot_exec;
        reset_launcher_state();
    }
    // Installs images of these names and lists them in the local manifest.
    void install(const std::vector<std::string> &names) {
        tavu_file_manifest manifest;
        for (const std::string &name : names) {
            ASSERT_TRUE(
                write_file(std::string(executables_dir.text) + "/" + name, "#!/bin/sh\nexit 0\n"));
            manifest_entry record{const_cast<char *>(name.c_str()),
                                  const_cast<char *>("0123456789abcdef"), 18, nullptr};
            ASSERT_TRUE(manifest.update_entry(&record));
        }
        ASSERT_TRUE(manifest.save_file(manifest_path.text));
    }
    // The state in which only the clock and the options display hold the boot.
    void updater_done() {
        lock_fd = lock_file_acquire(lock_path.text);
        ASSERT_GE(lock_fd, 0);
        updater_finished = 1;
    }
    void ticks(int count) {
        for (int i = 0; i < count && !window_closed(frame); i++)
            boot_step(&frame->mw);
    }

    launcher_frame *frame = nullptr;
};

TEST_F(boot_step_test, boot_comes_on_the_fifty_first_tick_and_records_the_name_first) {
    install({"korvix_105"});
    updater_done();
    ticks(50);
    EXPECT_TRUE(exec_calls.empty()) << "booted after " << frame->mw.elapsed_ms << " ms";
    ticks(1);
    ASSERT_EQ(exec_calls.size(), 1u);
    EXPECT_EQ(exec_calls[0].path, std::string(executables_dir.text) + "/korvix_105");
    EXPECT_EQ(exec_calls[0].argv, (std::vector<std::string>{"korvix_105", "-l", "1.095-gtk-rc4"}));
    EXPECT_EQ(exec_calls[0].crash_file, "korvix_105\n");
    // The start failed: the window closes with the message, and no tick runs again.
    EXPECT_TRUE(window_closed(frame));
    const std::string log = new_log_text();
    EXPECT_NE(log.find("Boot exec for filename '" + std::string(executables_dir.text) +
                       "/korvix_105' failed.\nTrying next in line.\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Sorry, no valid executables found - cannot start game.\n"),
              std::string::npos);
}

TEST_F(boot_step_test, options_display_and_a_running_update_hold_the_boot) {
    install({"korvix_105"});
    updater_done();
    updater_finished = 0;
    ticks(100);
    EXPECT_TRUE(exec_calls.empty()) << "booted while the updater was still running";
    updater_finished = 1;
    frame->mw.options_shown = 1;
    ticks(200);
    EXPECT_TRUE(exec_calls.empty()) << "booted while the options were shown";
    frame->mw.options_shown = 0;
    ticks(1);
    EXPECT_EQ(exec_calls.size(), 1u);
}

TEST_F(boot_step_test, every_candidate_is_tried_in_turn_after_a_failed_start) {
    install({"korvix_099", "korvix_110", "korvix_105"});
    updater_done();
    ticks(51);
    ASSERT_EQ(exec_calls.size(), 3u);
    EXPECT_EQ(exec_calls[0].argv[0], "korvix_110");
    EXPECT_EQ(exec_calls[1].argv[0], "korvix_105");
    EXPECT_EQ(exec_calls[1].crash_file, "korvix_105\n");
    EXPECT_EQ(exec_calls[2].argv[0], "korvix_099");
    // A second list is built afresh, not appended to the first.
    EXPECT_EQ(build_boot_candidates(), 3);
    EXPECT_EQ(build_boot_candidates(), 3);
}

TEST_F(boot_step_test, no_images_gives_the_message_and_closes_the_window) {
    updater_done();
    ticks(51);
    EXPECT_TRUE(exec_calls.empty());
    EXPECT_TRUE(window_closed(frame));
    EXPECT_NE(new_log_text().find("\nSorry, no executables found - cannot start game.\n"
                                  "This launcher will attempt to download one if you restart "
                                  "it.\n"
                                  "If this message continues to occur, please notify the game "
                                  "admin.\n\n"),
              std::string::npos);
}

TEST_F(boot_step_test, lock_held_elsewhere_gives_up_after_three_seconds_of_ticks) {
    install({"korvix_105"});
    foreign_lock other(lock_path.text);
    ASSERT_TRUE(other.locked);
    ticks(150);
    EXPECT_FALSE(window_closed(frame)) << "gave up at " << frame->mw.elapsed_ms << " ms";
    EXPECT_EQ(updater_started.load(), 0);
    ticks(1);
    EXPECT_TRUE(window_closed(frame));
    EXPECT_TRUE(exec_calls.empty());
    EXPECT_NE(new_log_text().find(
                  "\nSorry, it looks like there's another version of the launcher downloading\n"
                  "updates right now.  Please try again when it's finished.\n\n"),
              std::string::npos);
}

// The lock comes free: the run starts late, and its end gives the lock back.
TEST_F(boot_step_test, lock_freed_later_starts_the_update_on_the_next_tick) {
    {
        foreign_lock other(lock_path.text);
        ASSERT_TRUE(other.locked);
        ticks(10);
        EXPECT_EQ(lock_fd.load(), -1);
    }
    ticks(1);
    EXPECT_GE(lock_fd.load(), 0);
    EXPECT_EQ(updater_started.load(), 1);
    EXPECT_NE(new_log_text().find("OnTimer(), late start of updater thread.\n"), std::string::npos);
    ASSERT_TRUE(wait_until([] { return updater_finished.load() != 0; }, 15000));
    // A run counts as finished only once its lock is given back: B may take it again then.
    EXPECT_TRUE(lock_is_free(lock_path.text)) << "the finished run kept the updater lock";
}

} // namespace
