// Directory trees, the writeable-directory proof, the updater's lock file and the image boot.
#pragma once

#include "client/fixed_text.h"

#include <sys/types.h>

// Creates every directory of path that comes before its last "/" or "\\" (back-slashes
// become "/"); a path ending in a separator thus creates itself. Existing directories
// are fine; anything else in the way (a plain file, a refused mkdir) is a failure.
// mode: permission bits for each new directory. error_text: may be null; on failure
// the partial path that could not be made a directory is appended to it.
// Returns 1 when every directory before the last separator exists afterwards, 0 otherwise
// (also for a null path, which is reported).
int qorl_recursive_mkdir(const char *path, mode_t mode, fixed_text *error_text);

// Creates the directory path (mode 0700 whatever mode says) and proves it writeable by
// creating and deleting "xx-rw-test.qqq" in it; an empty path tests the working
// directory. error_text: may be null; receives the path that failed.
// Returns 1 when the directory exists and the test file could be created, 0 otherwise.
int qorl_create_and_check_writeable_directory(const char *path, mode_t mode,
                                              fixed_text *error_text);

// Opens (creating with mode 0600) and locks the whole file without waiting.
// Returns the descriptor holding the lock, or -1 when the file cannot be opened or
// another process holds the lock. The lock lasts until lock_file_release or process end;
// the descriptor is not inherited by images started with exec.
int lock_file_acquire(const char *path);
// Unlocks and closes a descriptor from lock_file_acquire.
// Returns 1 when it was unlocked, 0 for a negative descriptor or a failed unlock.
int lock_file_release(int fd);

// Makes the image executable (0700) and replaces this process with it: argv is
// null-terminated and includes element 0; the environment is inherited.
// Returns only when the chmod or the exec failed; both are reported.
void qorl_boot_exec(const char *path, char *const argv[]);

// Returns 1 when the image cannot be opened or is smaller than 100 bytes, 0 otherwise.
int qorl_is_boot_file_bad(const char *path);

// Opens the URL in "firefox" (found through PATH), passed as one argument with no shell
// in between, and waits for that process. Returns 1 when it exited with status 0, else 0.
int launch_browser(const char *url);
