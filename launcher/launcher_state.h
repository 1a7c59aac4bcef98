// Process-wide values of the launcher: fixed paths, display size, lock and flags.
#pragma once

#include "client/fixed_text.h"

#include <atomic>
#include <cstdint>

struct qorl_bitmap;

// Paths built once during start-up, read-only afterwards.
extern fixed_text manifest_path;   // config dir + "/executables/update_manifest.lst"
extern fixed_text executables_dir; // config dir + "/executables"
extern fixed_text boot_name_path;  // config dir + "/bootname.txt"
extern fixed_text lock_path;       // config dir + "/executables/lock.tmp"

extern int32_t screen_width;
extern int32_t screen_height;
extern qorl_bitmap *splash_bitmap;

// Shared with the updater thread, hence atomic.
extern std::atomic<int> lock_fd;          // held updater lock, or -1
extern std::atomic<int> verbose_printing; // "-v": the updater driver prints more

// This launcher's version, written to launcher.cfg and passed to the client image.
extern const char launcher_version_string[];
