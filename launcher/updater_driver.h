// One update run of the client executables, with the launcher's own choice of files.
#pragma once

#include <cstdint>
#include <ctime>

// Receives the overall download percentage (0-100) on the updater thread, with the
// context given to run_executable_updater. Null (the default) sends it nowhere. The
// launcher window sets it before starting the updater thread; the receiver must only
// store the value and hand it over to the GUI thread.
extern void (*updater_progress_receiver)(void *context, double percent);

// Second of the last "% complete." line; used only by the updater thread.
extern time_t last_percent_print_time;

// Fetches remote_directory + "/" + remote_manifest_name from host (port 80, no SSL) and
// installs into destination_directory: the first release file the server lists (a name
// without "beta"), in beta-test mode also the first beta file, each only when it needs an
// update, and any installed file whose size differs from the listed one. Names that would
// land outside destination_directory or on the updater's own files are refused.
// context: passed to updater_progress_receiver. local_manifest_path: the list of
// installed files, created when missing. temp_file: where downloads land first.
// Console lines go to standard output. Blocks until done; call it on a worker thread.
// Returns 0 when the run was abandoned (manifest not fetched, destination or temporary
// file unusable), 1 otherwise, also when single files failed. Ends the process with
// status 1 when the local manifest cannot be saved.
int run_executable_updater(void *context, const char *host, const char *remote_directory,
                           const char *remote_manifest_name, const char *local_manifest_path,
                           const char *destination_directory, const char *temp_file);
