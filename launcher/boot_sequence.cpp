// The boot sequence: the updater worker, the per-tick boot step and crash detection.
#include "launcher/boot_sequence.h"

#include "client/config_dir.h"
#include "client/debug_log.h"
#include "client/directories.h"
#include "client/fixed_text.h"
#include "client/string_heap.h"
#include "launcher/config_file.h"
#include "launcher/launcher_state.h"
#include "launcher/launcher_window.h"
#include "launcher/updater_driver.h"
#include "updater/file_manifest.h"
#include "util/stream_io.h"
#include "util/threads.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

int constructed = 0;
std::atomic<int> updater_started{0};
std::atomic<int> updater_finished{0};
pointer_list boot_candidates;
void (*boot_exec_function)(const char *path, char *const argv[]) = qorl_boot_exec;

namespace {

// The manifest the candidate names point into; rebuilt for every candidate list.
std::unique_ptr<tavu_file_manifest> boot_manifest;

struct boot_candidates_setup {
    boot_candidates_setup() { boot_candidates.init(); }
} const setup_at_load;

constexpr int32_t tick_ms = 20;
constexpr int32_t lock_wait_ms = 3000;
constexpr int32_t earliest_boot_ms = 1000;

// Greatest name first out of the heap.
int descending_names(const char *a, const char *b) {
    return strcmp(b, a);
}

void log_level0(const char *text) {
    if (log_level > 0)
        log_printf("%s", text);
}

// The first line of the crash-detection file, or an empty text.
void read_previous_boot_name(char (&name)[1024]) {
    name[0] = '\0';
    FILE *file = fopen(boot_name_path.text, "rb");
    if (file == nullptr)
        return;
    if (fget_line(file, name, sizeof name) == 0)
        name[0] = '\0';
    fclose(file);
}

// Takes the updater lock late; true when it was free and a run has been started.
bool take_lock_and_start_updater(launcher_mw *window) {
    lock_fd = lock_file_acquire(lock_path.text);
    if (lock_fd < 0)
        return false;
    if (log_level > 1)
        log_printf("OnTimer(), late start of updater thread.\n");
    start_updater_thread(window);
    return true;
}

// Tries every candidate in order; returns only when none could be started.
void try_candidates(const char *previous_name) {
    for (int32_t i = 0; i < boot_candidates.count; i++) {
        const char *name = static_cast<const char *>(boot_candidates.items[i]);
        if (strcmp(name, previous_name) == 0) {
            if (log_level > 0)
                log_printf("Previous boot of image '%s' failed.\n", name);
            if (boot_candidates.count == 1) {
                log_level0("No other images, retrying.\n");
            } else {
                log_level0("Skipping, will try older images.\n");
                continue;
            }
        }
        write_crash_detect_file(name);
        fixed_text path;
        path.clear();
        path.append(executables_dir.text);
        path.append("/");
        path.append(name);
        if (log_level > 2)
            log_printf("Trying executable '%s'.\n", path.text);
        char *const argv[] = {const_cast<char *>(name), const_cast<char *>("-l"),
                              const_cast<char *>(launcher_version_string), nullptr};
        boot_exec_function(path.text, argv);
        if (log_level > 0) {
            log_printf("Boot exec for filename '%s' failed.\n", path.text);
            log_printf("Trying next in line.\n");
        }
    }
}

// The updater's progress hook: the window hands the value over to the GUI thread.
void forward_progress(void *window, double percent) {
    static_cast<launcher_mw *>(window)->report_progress(percent);
}

} // namespace

void start_updater_thread(launcher_mw *window) {
    updater_progress_receiver = forward_progress;
    updater_finished = 0;
    if (!qorl_thread_create("executable updater", updater_thread_main, window)) {
        log_level0("Launcher failed to spawn download thread, aborting.\n");
        exit(1);
    }
    updater_started = 1;
    window->update_status_texts();
}

int32_t updater_thread_main(void *window) {
    // The lock this run was started with. The GUI thread may store a new descriptor once
    // updater_finished is set, so the global is not the one to release.
    int run_lock_fd = lock_fd;
    fixed_text temporary_path;
    temporary_path.clear();
    temporary_path.append(get_config_directory());
    temporary_path.append("/executables/download.tmp");
    run_executable_updater(window, DUSKMERE_UPDATE_HOST, "/downloads/korvix_v3",
                           "manifest_linux32_executables.txt.gz", manifest_path.text,
                           executables_dir.text, temporary_path.text);
    // Released before the run is marked finished: lockf locks belong to the process, so
    // a release after B had taken the lock again for a new run would drop that run's lock.
    lock_file_release(run_lock_fd);
    updater_finished = 1;
    return 0;
}

int32_t build_boot_candidates() {
    boot_candidates.release();
    boot_candidates.init();
    boot_manifest = std::make_unique<tavu_file_manifest>();
    if (boot_manifest->load_file(manifest_path.text) <= 0)
        return 0;
    if (boot_manifest->prune_missing_files(executables_dir.text) <= 0)
        return 0;
    string_heap heap;
    heap.init(descending_names);
    const int beta_allowed = beta_mode != 0;
    for (manifest_entry *entry = boot_manifest->head; entry != nullptr; entry = entry->next) {
        if (entry->name == nullptr)
            continue;
        if (!beta_allowed && strstr(entry->name, "beta") != nullptr)
            continue;
        heap.push(entry->name);
    }
    while (const char *name = heap.pop())
        boot_candidates.push(const_cast<char *>(name));
    heap.release();
    return boot_candidates.count;
}

int write_crash_detect_file(const char *name) {
    FILE *file = fopen(boot_name_path.text, "wb");
    if (file == nullptr) {
        if (log_level > 0)
            log_printf("write_crash_detect_file(), unable to open file '%s' for writing.\n",
                       boot_name_path.text);
        return 0;
    }
    int written = fprintf(file, "%s\n", name) >= 0;
    if (fclose(file) != 0)
        written = 0;
    return written;
}

void boot_step(launcher_mw *window) {
    window->elapsed_ms += tick_ms;
    run_animations(tick_ms);

    if (lock_fd < 0) {
        if (take_lock_and_start_updater(window))
            return;
        if (window->elapsed_ms <= lock_wait_ms)
            return;
        log_level0("\n");
        log_level0("Sorry, it looks like there's another version of the launcher downloading\n");
        log_level0("updates right now.  Please try again when it's finished.\n");
        log_level0("\n");
        close_launcher_window(window);
        return;
    }
    if (window->elapsed_ms <= earliest_boot_ms || !updater_finished || window->options_shown)
        return;

    build_boot_candidates();
    char previous_name[1024];
    read_previous_boot_name(previous_name);
    if (boot_candidates.count == 0) {
        log_level0("\n");
        log_level0("Sorry, no executables found - cannot start game.\n");
        log_level0("This launcher will attempt to download one if you restart it.\n");
        log_level0("If this message continues to occur, please notify the game admin.\n");
        log_level0("\n");
    }
    if (log_level > 2)
        log_printf("Loaded %d entries from current manifest file '%s'.\n",
                   int(boot_candidates.count), manifest_path.text);
    if (log_level > 1)
        for (int32_t i = 0; i < boot_candidates.count; i++)
            log_printf("Got executable filename '%s'.\n",
                       static_cast<const char *>(boot_candidates.items[i]));

    try_candidates(previous_name);

    log_level0("Sorry, no valid executables found - cannot start game.\n");
    log_level0("If this message continues to occur, please notify the game admin.\n");
    close_launcher_window(window);
}
