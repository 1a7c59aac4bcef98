// The launcher's configuration file "launcher.cfg": beta-test mode and the writer's version.
#pragma once

#include <atomic>

// Beta-test mode; 0 is off, any other value on. Read by the updater thread.
extern std::atomic<int> beta_mode;

// Reads launcher.cfg and rewrites it when missing, unreadable or from another version.
void load_system_config_file();
// Writes launcher.cfg from the current state.
void save_system_config_file();
// Stores the mode and saves the file when the value changed.
void set_beta_mode(int value);
int get_beta_mode();
// The launcher_version text last read from launcher.cfg, or null when none was read.
const char *get_stored_launcher_version();
