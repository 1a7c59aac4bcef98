// One update run: fetch the server's list, pick the launcher's files, install them, report.
#include "launcher/updater_driver.h"

#include "client/debug_log.h"
#include "client/fixed_text.h"
#include "client/pointer_list.h"
#include "launcher/config_file.h"
#include "launcher/launcher_state.h"
#include "updater/file_updater.h"
#include "updater/remote_manifest.h"

#include <cstdio>
#include <cstring>
#include <sys/stat.h>

void (*updater_progress_receiver)(void *context, double percent) = nullptr;
time_t last_percent_print_time = 0;

namespace {

// The bar is redrawn only when the shown tenth of a percent changes, so a big download
// does not flood the GUI thread with one event per received block.
int32_t last_reported_tenths = -1;

void updater_console_line(const char *text) {
    fputs(text, stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

void console_line_with_name(const char *before, const char *name, const char *after) {
    fixed_text text;
    text.clear();
    text.append(before);
    text.append(name);
    text.append(after);
    updater_console_line(text.text);
}

void manifest_download_dots(void *, int32_t received, int32_t expected) {
    fputs(received == expected ? ".\n" : ".", stdout);
    fflush(stdout);
}

void file_download_dots(void *, int32_t received, int32_t expected) {
    if (!verbose_printing)
        return;
    fputs(received == expected ? ".\n" : ".", stdout);
    fflush(stdout);
}

void updater_console_message(void *, const char *text) {
    fputs(text, stdout);
    fputc('\n', stdout);
}

void updater_overall_progress(void *context, double done, double total) {
    if (total <= 0)
        total = 1;
    const double percent = done * 100 / total;
    const int32_t tenths = static_cast<int32_t>(percent * 10);
    if (tenths != last_reported_tenths) {
        last_reported_tenths = tenths;
        if (updater_progress_receiver != nullptr)
            updater_progress_receiver(context, percent);
    }
    const time_t now = time(nullptr);
    if (now != last_percent_print_time) {
        if (!verbose_printing)
            printf("%5.1f%% complete.\n", percent);
        last_percent_print_time = now;
    }
}

bool names_beta(const char *name) {
    return strstr(name, "beta") != nullptr;
}

void print_banner(const char *host, const char *remote_directory, const char *remote_manifest_name,
                  const char *local_manifest_path, const char *destination_directory,
                  const char *temp_file) {
    if (verbose_printing <= 0 || log_level <= 2)
        return;
    log_printf("Filesystem updater -------\n");
    log_printf("Server name:       %s\n", host ? host : "(null)");
    log_printf("Root path:         %s\n", remote_directory ? remote_directory : "(null)");
    log_printf("Remote file list:  %s\n", remote_manifest_name ? remote_manifest_name : "(null)");
    log_printf("Local manifest:    %s\n", local_manifest_path ? local_manifest_path : "(null)");
    log_printf("Destination path:  %s\n", destination_directory ? destination_directory : "(null)");
    log_printf("Temporary file:    %s\n", temp_file ? temp_file : "(null)");
}

// The launcher's selection: the first release and (in beta-test mode) the first beta
// record the server lists, when they need an update, plus every installed file whose size
// differs from the listed one. beta_mode is read afresh for each record.
void select_files(file_updater &updater, const manifest_entry *records,
                  const char *destination_directory, pointer_list &selected) {
    int first_release_pending = 1;
    int first_beta_pending = 1;
    for (const manifest_entry *record = records; record != nullptr; record = record->next) {
        const char *name = record->name;
        if (name == nullptr) {
            updater_console_line("Error in run_executable_updater(), got null filename?");
            continue;
        }
        const bool beta = names_beta(name);
        fixed_text normal;
        if (!updater.accepts_name(name) || !normalize_update_name(name, &normal) ||
            strcmp(normal.text, "lock.tmp") == 0) {
            console_line_with_name("Refusing file '", name, "' - unsafe file name.");
        } else {
            fixed_text local;
            local.clear();
            if (destination_directory != nullptr && destination_directory[0] != '\0') {
                local.append(destination_directory);
                local.append("/");
            }
            local.append(normal.text);
            struct stat status;
            bool decided = false;
            if (stat(local.text, &status) != 0) {
                if (verbose_printing)
                    console_line_with_name("No backing file for '", local.text, "'.");
            } else if (status.st_size != static_cast<off_t>(record->size)) {
                if (verbose_printing)
                    console_line_with_name("File '", name,
                                           "' had different expected size, forcing update.");
                selected.push(const_cast<manifest_entry *>(record));
                decided = true;
            }
            if (!decided) {
                if (!updater.needs_update(record)) {
                    if (verbose_printing)
                        console_line_with_name("File '", name, "' up to date.");
                } else if (beta) {
                    if (first_beta_pending && beta_mode) {
                        selected.push(const_cast<manifest_entry *>(record));
                        if (verbose_printing)
                            console_line_with_name("Found first beta file '", name, "'.");
                    }
                } else if (first_release_pending) {
                    selected.push(const_cast<manifest_entry *>(record));
                    if (verbose_printing)
                        console_line_with_name("Found first file '", name, "'.");
                }
            }
        }
        if (beta)
            first_beta_pending = 0;
        else
            first_release_pending = 0;
    }
}

} // namespace

int run_executable_updater(void *context, const char *host, const char *remote_directory,
                           const char *remote_manifest_name, const char *local_manifest_path,
                           const char *destination_directory, const char *temp_file) {
    print_banner(host, remote_directory, remote_manifest_name, local_manifest_path,
                 destination_directory, temp_file);
    last_reported_tenths = -1;

    http_fetch_remote_manifest_data fetcher;
    fetcher.progress_context = nullptr;
    fetcher.progress_callback = manifest_download_dots;
    const auto console_report = [](void *, const char *line) { updater_console_line(line); };
    if (fetcher.fetch_update_list(host, remote_directory, remote_manifest_name, verbose_printing,
                                  console_report, nullptr) < 0)
        return 0;

    file_updater updater;
    updater.verbose = verbose_printing;
    updater.message_callback = updater_console_message;
    updater.raw_progress_callback = file_download_dots;
    updater.overall_progress_callback = updater_overall_progress;
    updater.user_context = context;
    updater.file_delay_ms = 0;

    if (!updater.set_destination_dir(destination_directory)) {
        console_line_with_name("Unable to set download target directory, to '",
                               destination_directory, "', aborting update.");
        return 0;
    }
    if (!updater.set_temp_file(temp_file)) {
        console_line_with_name("Unable to access temporary download file '", temp_file,
                               "', aborting update.");
        return 0;
    }
    if (!updater.set_manifest_file(local_manifest_path))
        console_line_with_name("Unable to load local manifest file '", local_manifest_path,
                               "', creating new.");

    pointer_list selected;
    selected.init();
    select_files(updater, fetcher.head, destination_directory, selected);

    if (selected.count == 0) {
        updater_console_line("Everything appears to be up to date already.");
    } else {
        char text[64];
        updater_console_line(update_count_line(selected.count, text, sizeof text));
        last_percent_print_time = time(nullptr);
        updater.update_files(host, remote_directory, &selected);
    }
    selected.release();
    return 1;
}
