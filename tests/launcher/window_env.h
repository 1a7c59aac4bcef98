// In-process launcher tests: the toolkit, a scratch configuration directory and the log.
#pragma once

#include "launcher/launcher_window.h"

#include <functional>
#include <string>

// Where the debug log of these programs goes (inside the sandbox's private /tmp); log_level
// is 3 so every entry is written.
extern const char window_test_log_path[];

// The log written since the last call.
std::string new_log_text();

// Runs the toolkit's pending events until done() is true or timeout_ms pass.
bool pump_events_until(const std::function<bool()> &done, int timeout_ms);

// The configuration directory of this program (HOME is a scratch folder); the launcher's
// fixed paths point into it.
std::string config_directory();

// Puts every value the window and the boot step share back to its start-up state. A lock
// the test took itself is released; one taken for an updater run is left to that run, which
// is waited for.
void reset_launcher_state();

// A new launcher window as start-up makes it, with its clock stopped so the test drives it.
launcher_frame *open_launcher_window();

// True once frame has been destroyed or is queued for destruction (compares pointers only).
bool window_closed(const launcher_frame *frame);

// Destroys a frame that is still open and runs the destruction.
void dispose_window(launcher_frame *frame);

// Another process holding a lock file (lock_file_acquire); ended when the handle goes.
class foreign_lock {
  public:
    explicit foreign_lock(const char *path);
    ~foreign_lock();
    foreign_lock(const foreign_lock &) = delete;
    foreign_lock &operator=(const foreign_lock &) = delete;
    bool locked = false; // the other process holds the lock

  private:
    int pid = -1;
};

// True when another process could take the lock now.
bool lock_is_free(const char *path);
