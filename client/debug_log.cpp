// Debug log: lazy open in append mode, one flush per entry, category filter for reports.
#include "client/debug_log.h"

#include "client/fixed_text.h"
#include "util/string_utils.h"

#include <cstdarg>

int32_t log_level = 1;

static FILE *debug_logfile = nullptr;
static char *debug_logfile_path = nullptr;
static char *autoopen_logfile_name = nullptr;
static int debug_logfile_open_failed = 0;
static int message_filter_enabled = 1;
static uint32_t message_filter_mask = 0;

int log_printf(const char *format, ...) {
    if (debug_logfile == nullptr) {
        if (debug_logfile_open_failed)
            return 0;
        auto_open_debug_logfile();
        if (debug_logfile_open_failed || debug_logfile == nullptr)
            return 0;
    }
    va_list args;
    va_start(args, format);
    int written = vfprintf(debug_logfile, format, args);
    va_end(args);
    fflush(debug_logfile);
    return written;
}

void report_message(const char *text, uint32_t categories, int /*module*/) {
    if (!message_filter_enabled)
        return;
    uint32_t remaining = categories & ~message_filter_mask;
    if (remaining == 0)
        return;
    int threshold = (remaining & msg_trace) ? 2 : 0;
    if (log_level > threshold)
        log_printf("%s\n", text ? text : "(null)");
}

void enable_message_filter() {
    message_filter_enabled = 1;
}
void disable_message_filter() {
    message_filter_enabled = 0;
}
void set_message_filter_mask(uint32_t mask) {
    message_filter_mask = mask;
}

static void report_with_path(const char *head, const char *path, const char *tail) {
    fixed_text message;
    message.clear();
    message.append(head);
    message.append(path);
    message.append(tail);
    report_message(message.text, msg_trace, module_debug_log);
}

void qorl_client_try_open_debug_logfile() {
    if (debug_logfile != nullptr) {
        report_message("Error in qorl_client_try_open_debug_logfile(), logfile already open.",
                       msg_usage, module_debug_log);
        return;
    }
    // Append in binary mode; "e" keeps the log from leaking into the client image at exec.
    debug_logfile = debug_logfile_path ? fopen(debug_logfile_path, "abe") : nullptr;
    if (debug_logfile != nullptr) {
        debug_logfile_open_failed = 0;
        report_with_path("qorl_client_try_open_debug_logfile() opened logfile '",
                         debug_logfile_path, "'");
    } else {
        debug_logfile_open_failed = 1;
        report_with_path("qorl_client_try_open_debug_logfile() failed to open logfile '",
                         debug_logfile_path, "'");
    }
}

void auto_open_debug_logfile() {
    if (debug_logfile != nullptr || debug_logfile_open_failed)
        return;
    if (debug_logfile_path != nullptr) {
        qorl_client_try_open_debug_logfile();
    } else if (autoopen_logfile_name != nullptr) {
        fixed_text path;
        path.clear();
        path.append("/tmp/");
        path.append(autoopen_logfile_name);
        free_string(&debug_logfile_path);
        debug_logfile_path = dup_string(path.text);
        qorl_client_try_open_debug_logfile();
    }
}

// Shared by both name setters: refuse while open, else forget both names and store one.
static void set_logfile_name(const char *name, char **slot, const char *open_error) {
    if (debug_logfile != nullptr) {
        report_message(open_error, msg_usage, module_debug_log);
        return;
    }
    free_string(&debug_logfile_path);
    free_string(&autoopen_logfile_name);
    debug_logfile_open_failed = 0;
    *slot = dup_string(name);
}

void qorl_client_set_autoopen_debug_logfile_name(const char *name) {
    set_logfile_name(
        name, &autoopen_logfile_name,
        "Error in qorl_client_set_autoopen_debug_logfile_name(), logfile already open.");
}

void qorl_client_set_debug_logfile_name(const char *path) {
    set_logfile_name(path, &debug_logfile_path,
                     "Error in qorl_client_set_debug_logfile_name(), logfile already open.");
}

void qorl_client_debug_logfile_close() {
    if (debug_logfile == nullptr) {
        report_message("Error in qorl_client_debug_logfile_close(), no logfile open.", msg_usage,
                       module_debug_log);
        return;
    }
    fclose(debug_logfile);
    debug_logfile = nullptr;
    free_string(&debug_logfile_path);
    free_string(&autoopen_logfile_name);
    debug_logfile_open_failed = 0;
}

bool qorl_client_debug_logfile_is_open() {
    return debug_logfile != nullptr;
}
const char *qorl_client_get_autoopen_debug_logfile_name() {
    return autoopen_logfile_name;
}
const char *qorl_client_get_debug_logfile_path() {
    return debug_logfile_path;
}
int qorl_client_debug_logfile_open_failed() {
    return debug_logfile_open_failed;
}

void log_char_dump(const unsigned char *bytes, int32_t count) {
    for (int32_t i = 0; bytes != nullptr && i < count; ++i) {
        if (log_level > 1) {
            unsigned char b = bytes[i];
            log_printf("%c", (b == '\n' || (b >= 0x20 && b <= 0x7e)) ? b : '.');
        }
    }
    fflush(nullptr);
}
