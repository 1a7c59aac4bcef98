// The file update engine: downloads chosen files, installs them and keeps the local manifest.
#pragma once

#include "client/fixed_text.h"
#include "client/pointer_list.h"
#include "updater/file_manifest.h"

#include <cstddef>
#include <cstdint>

// Per-block progress of one download: body bytes received and expected (-1: unknown).
typedef void (*file_updater_raw_progress)(void *context, int32_t received, int32_t expected);
// Overall progress of update_files in bytes: done so far and the total of all records.
typedef void (*file_updater_overall_progress)(void *context, double done, double total);
// One human-readable message, without a line feed.
typedef void (*file_updater_message)(void *context, const char *text);

// Brings a server file name into the one form used to compare names: components joined
// by single "/", "." and empty components dropped (a leading "/" stays inside the
// destination). Returns 1 with *normal filled, or 0 for a name that is null or empty,
// holds a ".." component or a back-slash, or names no file (ends in "/", "." or "..").
// Such a name could reach outside the folder the files are installed in.
int normalize_update_name(const char *name, fixed_text *normal);

// The line that announces a non-empty update: "One file to update." or "N files to update.",
// written into text (size bytes). Returns text.
const char *update_count_line(int32_t count, char *text, size_t size);

// Use: construct; set verbose, file_delay_ms, user_context and the callbacks; then
// set_destination_dir, set_temp_file, set_manifest_file (in that order: loading prunes
// against the destination); then update_files (or update); destroy. One thread only.
class file_updater {
  public:
    file_updater();
    // Frees the paths, the manifest and the excluded names.
    ~file_updater();
    file_updater(const file_updater &) = delete;
    file_updater &operator=(const file_updater &) = delete;

    // Stores the directory and creates it (0700) if needed. Returns 1 when it exists and
    // is writeable, 0 otherwise (also for null).
    int set_destination_dir(const char *path);
    // Stores the path, creates its folders and creates or truncates the file.
    // Returns 1 when both worked, 0 otherwise (also for null).
    int set_temp_file(const char *path);
    // Stores the path and loads the manifest from it, then drops entries whose file is
    // missing in the destination. Returns 1 when it was loaded, 0 when missing or bad
    // (entries before a bad line stay).
    int set_manifest_file(const char *path);

    // 1 when the record's file must be downloaded (not listed, or size or hash differ),
    // 0 when the manifest says the installed copy is the listed one.
    int needs_update(const manifest_entry *record);
    // 1 when a file of that name may be installed: normalize_update_name accepts it and
    // it is neither the temporary file nor the manifest file. 0 otherwise.
    int accepts_name(const char *name);

    // Downloads and installs each record of records (items: manifest_entry pointers, in
    // order) below destination_dir; a failed file leaves the old copy and its entry.
    // Returns 0 when the list was worked through, 1 no temporary file set, 2 no
    // destination set, 5 temporary file or destination unwriteable.
    // Ends the process with status 1 when the manifest cannot be saved.
    int update_files(const char *host, const char *remote_directory, const pointer_list *records);
    // GETs remote_directory + "/" + name into temp_path (no "/" is doubled when name
    // begins with one). Returns non-zero on success.
    int download_file(const char *host, const char *remote_directory, const char *name);
    // Reads names that update must skip. Returns 1 when read, 0 when it cannot be opened.
    int load_exclude_file(const char *path);
    // A complete run of its own: fetches remote_directory + "/" + remote_manifest_name,
    // selects every record that is not excluded and needs an update, installs them.
    // Returns 0 done, 1 no temporary file, 2 no destination, 3 no manifest file,
    // 4 remote manifest not fetched, 5 unwriteable.
    int update(const char *host, const char *remote_directory, const char *remote_manifest_name);

    // Saves when the manifest has changes and more than 10 seconds passed since the last
    // clean tick or save; then reports done and total to overall_progress_callback.
    void progress_tick();
    void periodic_save();
    // Saves when the manifest has changes.
    void save_on_completion();
    // The downloader's progress receiver; user_data is the updater.
    static void file_progress_callback(void *user_data, int32_t received, int32_t expected);

    pointer_list excluded_names; // owned texts
    tavu_file_manifest manifest;
    char *manifest_file;   // owned, or null
    char *temp_path;       // owned, or null
    char *destination_dir; // owned, or null
    int32_t manifest_dirty;
    int32_t last_save_time; // seconds since the epoch
    int32_t verbose;        // emit the optional messages
    int32_t file_delay_ms;  // pause after each file; 0 or less: none
    double current_file_bytes;
    void *user_context; // first argument of every callback
    file_updater_raw_progress raw_progress_callback;
    file_updater_overall_progress overall_progress_callback;
    file_updater_message message_callback; // null drops messages
    double total_bytes;
    double completed_bytes;
    // Seconds since the epoch; time() unless a test puts its own clock here.
    int32_t (*clock)();

  private:
    void message(const char *text);
    void message_with_name(const char *before, const char *name, const char *after);
    void save_or_exit(const char *note);
    int install_file(const manifest_entry *record, const char *destination);
    int same_file_as(const char *normal_name, const char *path);
};
