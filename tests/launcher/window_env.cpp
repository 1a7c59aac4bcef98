// Brings up the toolkit and a scratch configuration directory for the in-process launcher tests.
#include "tests/launcher/window_env.h"

#include "client/config_dir.h"
#include "client/debug_log.h"
#include "client/directories.h"
#include "launcher/boot_sequence.h"
#include "launcher/config_file.h"
#include "launcher/launcher_state.h"
#include "tests/support/files.h"
#include "tests/support/wx_test_env.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>

#include <wx/app.h>

const char window_test_log_path[] = "/tmp/launcher_window_test_log.txt";

namespace {

std::unique_ptr<scratch_dir> home;

class window_environment : public ::testing::Environment {
  public:
    void SetUp() override {
        qorl_client_set_debug_logfile_name(window_test_log_path);
        log_level = 3; // every entry the launcher can write
        home = std::make_unique<scratch_dir>("launcher-home");
        setenv("HOME", home->path().c_str(), 1);
        ASSERT_TRUE(qorl_client_set_up_config_directory("Duskmere"));
        std::string dir = config_directory();
        manifest_path.assign((dir + "/executables/update_manifest.lst").c_str());
        executables_dir.assign((dir + "/executables").c_str());
        boot_name_path.assign((dir + "/bootname.txt").c_str());
        lock_path.assign((dir + "/executables/lock.tmp").c_str());
        ASSERT_TRUE(qorl_recursive_mkdir(lock_path.text, 0700, nullptr));

        start_test_toolkit("launcher_window_test");
    }
    void TearDown() override {
        stop_test_toolkit();
        home.reset();
    }
};

::testing::Environment *const environment =
    ::testing::AddGlobalTestEnvironment(new window_environment);

file_tail log_file(window_test_log_path);

} // namespace

std::string new_log_text() {
    return log_file.fresh();
}

bool pump_events_until(const std::function<bool()> &done, int timeout_ms) {
    return pump_test_toolkit_until(done, timeout_ms, true);
}

std::string config_directory() {
    return get_config_directory();
}

void reset_launcher_state() {
    if (updater_started) {
        EXPECT_TRUE(wait_until([] { return updater_finished.load() != 0; }, 15000));
        EXPECT_TRUE(wait_until([] { return lock_is_free(lock_path.text); }, 3000));
    } else if (lock_fd >= 0) {
        lock_file_release(lock_fd);
    }
    lock_fd = -1;
    updater_started = 0;
    updater_finished = 0;
    if (beta_mode != 0)
        set_beta_mode(0);
    new_log_text();
}

launcher_frame *open_launcher_window() {
    launcher_frame *frame =
        new launcher_frame("Duskmere Launcher", wxDefaultPosition, wxSize(480, 300));
    frame->mw.timer.Stop();
    return frame;
}

bool window_closed(const launcher_frame *frame) {
    for (wxObject *pending : wxPendingDelete)
        if (pending == frame)
            return true;
    for (wxWindow *window : wxTopLevelWindows)
        if (window == frame)
            return false;
    return true;
}

void dispose_window(launcher_frame *frame) {
    if (!window_closed(frame))
        frame->Destroy();
    wxTheApp->ProcessIdle();
}

foreign_lock::foreign_lock(const char *path) {
    int ready[2];
    if (pipe(ready) != 0)
        return;
    pid = fork();
    if (pid == 0) {
        char held = lock_file_acquire(path) >= 0 ? 1 : 0;
        if (write(ready[1], &held, 1) != 1)
            _exit(1);
        pause();
        _exit(0);
    }
    char held = 0;
    locked = pid > 0 && read(ready[0], &held, 1) == 1 && held == 1;
    close(ready[0]);
    close(ready[1]);
}

foreign_lock::~foreign_lock() {
    if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

bool lock_is_free(const char *path) {
    foreign_lock probe(path);
    return probe.locked;
}
