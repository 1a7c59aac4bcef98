// The file update engine: each file is downloaded whole, then renamed over the installed copy.
#include "updater/file_updater.h"

#include "client/directories.h"
#include "http/http_downloader.h"
#include "updater/remote_manifest.h"
#include "util/stream_io.h"
#include "util/string_utils.h"
#include "util/threads.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int32_t exclude_line_size = 1024;
constexpr int32_t save_interval_seconds = 10;

int32_t system_clock() {
    return static_cast<int32_t>(time(nullptr));
}

// Creates the folders leading to path and creates or truncates the file itself.
int create_empty_file(const char *path) {
    if (!qorl_recursive_mkdir(path, 0700, nullptr))
        return 0;
    FILE *file = fopen(path, "wb");
    if (file == nullptr)
        return 0;
    fclose(file);
    return 1;
}

// Forces a file's content to disk, so that a rename never publishes a manifest whose text
// a power loss could still take away.
int sync_file(const char *path) {
    int fd = open(path, O_RDONLY);
    if (fd < 0)
        return 0;
    const int synced = fsync(fd) == 0;
    close(fd);
    return synced;
}

// Writes the manifest to a side file that is synced and then renamed over the old one, so
// the file on disk is always either the previous list or the new one, never half of one.
int save_manifest_whole(tavu_file_manifest &manifest, const char *path) {
    if (path == nullptr)
        return 0;
    fixed_text side;
    side.assign(path);
    side.append(".tmp");
    const int saved = side.has_room() && manifest.save_file(side.text) && sync_file(side.text) &&
                      rename(side.text, path) == 0;
    if (!saved)
        unlink(side.text);
    return saved;
}

// Saves a copy of the manifest without the entry called name, in the same order.
int save_manifest_without(const tavu_file_manifest &manifest, const char *name, const char *path) {
    pointer_list kept;
    kept.init();
    int complete = 1;
    for (const manifest_entry *e = manifest.head; e != nullptr && complete; e = e->next)
        if (e->name != nullptr && strcmp(e->name, name) != 0)
            complete = kept.push(const_cast<manifest_entry *>(e));
    tavu_file_manifest copy;
    // Each entry goes in at the head: the last one first keeps the order.
    for (int32_t i = kept.count - 1; i >= 0 && complete; --i)
        complete = copy.update_entry(static_cast<const manifest_entry *>(kept.items[i]));
    kept.release();
    return complete && save_manifest_whole(copy, path);
}

// The fetcher's progress goes on to the owner's raw progress receiver.
void forward_fetch_progress(void *context, int32_t received, int32_t expected) {
    auto *updater = static_cast<file_updater *>(context);
    if (updater->raw_progress_callback != nullptr)
        updater->raw_progress_callback(updater->user_context, received, expected);
}

} // namespace

const char *update_count_line(int32_t count, char *text, size_t size) {
    if (count == 1)
        snprintf(text, size, "One file to update.");
    else
        snprintf(text, size, "%d files to update.", static_cast<int>(count));
    return text;
}

int normalize_update_name(const char *name, fixed_text *normal) {
    normal->clear();
    if (name == nullptr || name[0] == '\0')
        return 0;
    const char *p = name;
    for (;;) {
        const char *start = p;
        while (*p != '\0' && *p != '/') {
            if (*p == '\\')
                return 0; // the folder maker takes it for a separator
            ++p;
        }
        const long length = p - start;
        const bool last = *p == '\0';
        if (length == 2 && start[0] == '.' && start[1] == '.')
            return 0;
        if (length == 0 || (length == 1 && start[0] == '.')) {
            if (last)
                return 0; // names a folder, not a file
        } else {
            if (normal->length > 0)
                normal->append_char('/');
            for (const char *c = start; c < p; ++c)
                normal->append_char(*c);
        }
        if (last)
            break;
        ++p; // past the "/"
        if (*p == '\0')
            return 0;
    }
    return normal->length > 0 && normal->has_room();
}

file_updater::file_updater()
    : manifest_file(nullptr), temp_path(nullptr), destination_dir(nullptr), manifest_dirty(0),
      last_save_time(0), verbose(0), file_delay_ms(0), current_file_bytes(0), user_context(nullptr),
      raw_progress_callback(nullptr), overall_progress_callback(nullptr), message_callback(nullptr),
      total_bytes(0), completed_bytes(0), clock(system_clock) {
    excluded_names.init();
}

file_updater::~file_updater() {
    free_string(&manifest_file);
    free_string(&temp_path);
    free_string(&destination_dir);
    for (int32_t i = 0; i < excluded_names.count; ++i) {
        char *name = static_cast<char *>(excluded_names.items[i]);
        free_string(&name);
    }
    excluded_names.release();
}

void file_updater::message(const char *text) {
    if (message_callback != nullptr)
        message_callback(user_context, text);
}

void file_updater::message_with_name(const char *before, const char *name, const char *after) {
    fixed_text text;
    text.clear();
    text.append(before);
    text.append(name);
    text.append(after);
    message(text.text);
}

int file_updater::set_destination_dir(const char *path) {
    free_string(&destination_dir);
    if (path == nullptr)
        return 0;
    destination_dir = dup_string(path);
    return qorl_create_and_check_writeable_directory(path, 0700, nullptr);
}

int file_updater::set_temp_file(const char *path) {
    free_string(&temp_path);
    if (path == nullptr)
        return 0;
    temp_path = dup_string(path);
    return create_empty_file(path);
}

int file_updater::set_manifest_file(const char *path) {
    free_string(&manifest_file);
    manifest_file = dup_string(path);
    const int32_t loaded = manifest.load_file(path);
    if (loaded < 0)
        return 0;
    if (verbose) {
        char count[64];
        snprintf(count, sizeof count, "Loaded %d entries from current manifest file '",
                 static_cast<int>(loaded));
        message_with_name(count, path, "'.");
    }
    const int32_t kept = manifest.prune_missing_files(destination_dir);
    if (kept < loaded && verbose) {
        char text[96];
        snprintf(text, sizeof text, "Some files were deleted.  Only %d entries remain.",
                 static_cast<int>(kept));
        message(text);
    }
    return 1;
}

int file_updater::needs_update(const manifest_entry *record) {
    if (record->name == nullptr)
        return 0; // nothing could be installed under no name
    const manifest_entry *entry = manifest.find_entry(record->name);
    if (entry == nullptr) {
        if (verbose)
            message_with_name("File '", record->name, "' missing, should update.");
        return 1;
    }
    if (entry->size == record->size && entry->hash != nullptr && record->hash != nullptr &&
        strcmp(entry->hash, record->hash) == 0)
        return 0;
    if (verbose) {
        fixed_text text;
        char number[32];
        snprintf(number, sizeof number, "Expected %8d, ", static_cast<int>(record->size));
        text.assign(number);
        text.append(record->hash);
        message(text.text);
        snprintf(number, sizeof number, "Previous %8d, ", static_cast<int>(entry->size));
        text.assign(number);
        text.append(entry->hash);
        text.append(" - file '");
        text.append(entry->name);
        text.append("'");
        message(text.text);
    }
    return 1;
}

// True when path, below destination_dir, is the file that normal_name would name.
int file_updater::same_file_as(const char *normal_name, const char *path) {
    if (path == nullptr)
        return 0;
    const char *dir = destination_dir != nullptr ? destination_dir : "";
    const size_t n = strlen(dir);
    if (strncmp(path, dir, n) != 0)
        return 0;
    const char *rest = path + n;
    if (n > 0 && dir[n - 1] != '/' && rest[0] != '/')
        return 0;
    fixed_text normal_path;
    return normalize_update_name(rest, &normal_path) && strcmp(normal_path.text, normal_name) == 0;
}

int file_updater::accepts_name(const char *name) {
    fixed_text normal;
    if (!normalize_update_name(name, &normal))
        return 0;
    return !same_file_as(normal.text, temp_path) && !same_file_as(normal.text, manifest_file);
}

int file_updater::download_file(const char *host, const char *remote_directory, const char *name) {
    qorl_http_downloader downloader;
    downloader.set_connection(host, 80, 0);
    downloader.progress_callback = file_progress_callback;
    downloader.user_data = this;

    fixed_text path;
    path.clear();
    path.append(remote_directory);
    if (name == nullptr || name[0] != '/')
        path.append("/");
    path.append(name);
    if (verbose)
        message_with_name("Starting download of file '", path.text, "'.");
    return downloader.download(host, path.text, temp_path);
}

void file_updater::file_progress_callback(void *user_data, int32_t received, int32_t expected) {
    auto *self = static_cast<file_updater *>(user_data);
    if (self->raw_progress_callback != nullptr)
        self->raw_progress_callback(self->user_context, received, expected);
    if (received != expected) {
        self->current_file_bytes = received;
        self->progress_tick();
    } else {
        self->current_file_bytes = 0; // update_files counts the finished file
    }
}

void file_updater::progress_tick() {
    periodic_save();
    if (overall_progress_callback != nullptr)
        overall_progress_callback(user_context, completed_bytes + current_file_bytes, total_bytes);
}

void file_updater::save_or_exit(const char *note) {
    if (verbose && note != nullptr)
        message(note);
    if (!save_manifest_whole(manifest, manifest_file)) {
        message("Error - unable to save manifest file.  Bailing out.");
        exit(1);
    }
    manifest_dirty = 0;
}

void file_updater::periodic_save() {
    const int32_t now = clock();
    if (!manifest_dirty) {
        last_save_time = now;
        return;
    }
    if (now - last_save_time > save_interval_seconds) {
        save_or_exit("Saving file manifest.");
        last_save_time = now;
    }
}

void file_updater::save_on_completion() {
    if (!manifest_dirty)
        return;
    save_or_exit("Saving file manifest due to completion.");
    last_save_time = clock();
}

// Puts the finished download in place. The old copy stays until one atomic rename replaces
// it, and only a download of the listed size gets that far. The image is not synced here:
// that would double the install time, and a copy that a power loss cut short has the
// wrong size, which the next run notices and downloads again.
int file_updater::install_file(const manifest_entry *record, const char *destination) {
    struct stat status;
    if (stat(temp_path, &status) != 0 || status.st_size != static_cast<off_t>(record->size)) {
        message_with_name("Unable to update file '", record->name,
                          "' - download incomplete, size differs from the listed one.");
        return 0;
    }
    // A listed copy is about to be replaced. Its line leaves the saved manifest first: a run
    // ended between the rename and the next save would otherwise leave the old hash and size
    // listed for the new content, and a later list naming the old version again would take
    // the new one for it. Unlisted, the file is simply fetched again.
    const manifest_entry *listed = manifest.find_entry(record->name);
    if (listed != nullptr && manifest_file != nullptr &&
        (listed->size != record->size || listed->hash == nullptr || record->hash == nullptr ||
         strcmp(listed->hash, record->hash) != 0)) {
        if (!save_manifest_without(manifest, record->name, manifest_file)) {
            message("Error - unable to save manifest file.  Bailing out.");
            exit(1);
        }
        manifest_dirty = 1; // the saved list lacks a line the manifest still has
    }
    if (rename(temp_path, destination) != 0) {
        message_with_name("Unable to update file '", record->name, "' - cannot write new version.");
        return 0;
    }
    return 1;
}

int file_updater::update_files(const char *host, const char *remote_directory,
                               const pointer_list *records) {
    if (temp_path == nullptr) {
        message("No temporary download filename set.");
        return 1;
    }
    if (!create_empty_file(temp_path)) {
        message("Temporary file unwriteable.");
        return 5;
    }
    if (destination_dir == nullptr) {
        message("No destination path set to store downloaded files.");
        return 2;
    }
    if (!qorl_create_and_check_writeable_directory(destination_dir, 0700, nullptr)) {
        message("Download base path appears to be unwriteable.");
        return 5;
    }

    for (int32_t i = 0; i < records->count; ++i)
        total_bytes += static_cast<const manifest_entry *>(records->items[i])->size;
    manifest_dirty = 0;
    last_save_time = clock();

    for (int32_t i = 0; i < records->count; ++i) {
        const auto *record = static_cast<const manifest_entry *>(records->items[i]);
        fixed_text normal;
        if (!normalize_update_name(record->name, &normal) || !accepts_name(record->name)) {
            // A name that would land outside the folder, or on the updater's own files,
            // is never downloaded.
            message_with_name("Unable to update file '", record->name,
                              "' - unsafe file name, refused.");
            completed_bytes += record->size;
            continue;
        }
        fixed_text destination;
        destination.clear();
        if (destination_dir[0] != '\0') {
            destination.append(destination_dir);
            destination.append("/");
        }
        destination.append(normal.text);
        if (verbose)
            message_with_name("Updating file '", record->name, "'.");
        if (!destination.has_room() || !qorl_recursive_mkdir(destination.text, 0700, nullptr)) {
            message_with_name("Unable to update file '", record->name,
                              "' - cannot create directory.");
            continue;
        }

        const int downloaded = download_file(host, remote_directory, record->name);
        current_file_bytes = 0;
        completed_bytes += record->size;
        if (verbose) {
            char text[96];
            snprintf(text, sizeof text, "Received %10.0f / %10.0f bytes.", completed_bytes,
                     total_bytes);
            message(text);
        }
        if (!downloaded) {
            message_with_name("Unable to update file '", record->name, "' - download failed.");
        } else if (install_file(record, destination.text)) {
            manifest.update_entry(record);
            manifest_dirty = 1;
            progress_tick();
        }
        if (file_delay_ms > 0)
            sleep_milliseconds(file_delay_ms);
    }
    save_on_completion();
    return 0;
}

int file_updater::load_exclude_file(const char *path) {
    FILE *file = path != nullptr ? fopen(path, "rb") : nullptr;
    if (file == nullptr)
        return 0;
    char line[exclude_line_size];
    int32_t read = 0;
    while (fget_line(file, line, exclude_line_size) > 0) {
        const char *p = line;
        while (*p == ' ' || *p == '\t')
            ++p;
        if (*p == '\0' || *p == '#')
            continue;
        char *name = dup_string(p);
        if (name == nullptr || !excluded_names.push(name)) {
            free_string(&name);
            continue;
        }
        ++read;
    }
    fclose(file);
    if (verbose) {
        char count[80];
        snprintf(count, sizeof count, "Loaded %d entries from current exclude manifest file '",
                 static_cast<int>(read));
        message_with_name(count, path, "'.");
    }
    return 1;
}

int file_updater::update(const char *host, const char *remote_directory,
                         const char *remote_manifest_name) {
    if (manifest_file == nullptr) {
        message("No manifest filename set.");
        return 3;
    }
    if (temp_path == nullptr) {
        message("No temporary download filename set.");
        return 1;
    }
    if (destination_dir == nullptr) {
        message("No destination path set to store downloaded files.");
        return 2;
    }

    http_fetch_remote_manifest_data fetcher;
    fetcher.progress_context = this;
    fetcher.progress_callback = forward_fetch_progress;
    const auto report = [](void *self, const char *line) {
        static_cast<file_updater *>(self)->message(line);
    };
    if (fetcher.fetch_update_list(host, remote_directory, remote_manifest_name, verbose, report,
                                  this) < 0)
        return 4;

    pointer_list selected;
    selected.init();
    for (manifest_entry *record = fetcher.head; record != nullptr; record = record->next) {
        bool excluded = false;
        for (int32_t i = 0; i < excluded_names.count && !excluded; ++i)
            excluded =
                record->name != nullptr &&
                strcmp(record->name, static_cast<const char *>(excluded_names.items[i])) == 0;
        if (excluded) {
            message_with_name("Skipping file '", record->name, "'.");
            continue;
        }
        if (needs_update(record))
            selected.push(record);
    }

    int result = 0;
    if (selected.count == 0) {
        if (verbose)
            message("Everything appears to be up to date already.");
    } else {
        char text[64];
        message(update_count_line(selected.count, text, sizeof text));
        result = update_files(host, remote_directory, &selected);
    }
    selected.release();
    return result;
}
