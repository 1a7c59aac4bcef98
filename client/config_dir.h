// The per-user configuration directory: chosen once at start-up, with fallbacks.
#pragma once

// Chooses and creates the directory from a base name: HOME + "/." + base, then
// "." + base, "/tmp/" + base, base. 1 when one was chosen, 0 otherwise.
int qorl_client_set_up_config_directory(const char *base_name);
// The chosen path (no trailing "/"), or null before a successful set-up.
const char *get_config_directory();
// 1 when the candidate directory exists (or was created) and a file can be written in it.
int check_config_directory(const char *path);
