// The boot sequence: the updater worker, the per-tick boot step and crash detection.
#pragma once

#include "client/pointer_list.h"

#include <atomic>
#include <cstdint>

class launcher_mw;

// Set when launcher_mw construction has finished (GUI thread only).
extern int constructed;
// Set once an updater thread has been started; never cleared.
extern std::atomic<int> updater_started;
// Cleared just before each updater thread starts, set by the worker when its run is over.
extern std::atomic<int> updater_finished;
// Image names in the order they are tried; the texts belong to the boot manifest.
extern pointer_list boot_candidates;

// The call that replaces this process with an image (qorl_boot_exec); it returns only when
// the start failed. Tests put a recorder here.
extern void (*boot_exec_function)(const char *path, char *const argv[]);

// Clears updater_finished and starts the detached worker "executable updater" on window;
// then sets updater_started and refreshes the window's status lines. A thread that cannot be
// started ends the process with status 1.
void start_updater_thread(launcher_mw *window);

// The worker: one update run for window (a launcher_mw), then updater_finished is set and the
// lock the run was started with is released. Returns 0.
int32_t updater_thread_main(void *window);

// Fills boot_candidates from the local manifest: present files only, names with "beta"
// only in beta mode, greatest name first. Returns the number of candidates.
int32_t build_boot_candidates();

// Records name, and a line feed, in the crash-detection file (boot_name_path). Returns 1, or
// 0 when the file could not be written (logged; the boot attempt goes on).
int write_crash_detect_file(const char *name);

// One 20 ms tick: animations, the wait for the updater lock and, once more than 1000 ms have
// passed, the updater has finished and the options are not shown, the boot itself. Closes the
// window when the lock stays taken for 3000 ms or no image could be started.
void boot_step(launcher_mw *window);
