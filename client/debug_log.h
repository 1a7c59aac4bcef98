// Debug log: one append-only file under /tmp, direct entries and filtered library reports.
#pragma once

#include <cstdint>
#include <cstdio>

// Message categories carried by every report_message call.
enum : uint32_t {
    msg_resource = 0x001,     // obtaining a resource failed
    msg_runtime = 0x002,      // an operation failed or was cut short at run time
    msg_usage = 0x004,        // the caller broke an operation's contract
    msg_statistics = 0x008,   // internal structure statistics
    msg_data_file = 0x010,    // parsing or saving a data file failed
    msg_data_content = 0x020, // suspicious content of a stored record
    msg_input_format = 0x040, // malformed input that was tolerated
    msg_protocol = 0x080,     // connection, handshake or header failure
    msg_trace = 0x100,        // trace of normal progress
};

// Module codes naming the reporter; the filter does not consult them.
enum : int {
    module_runtime = 1,
    module_sockets = 2,
    module_http = 3,
    module_ssl = 5,
    module_xml = 6,
    module_threads = 7,
    module_downloader = 11,
    module_updater = 12,
    module_debug_log = 70,
    module_config_dir = 71,
};

// Verbosity, 1 at start; an entry marked (level > N) is written when log_level > N.
extern int32_t log_level;

// Writes a printf-style entry unchanged (no prefix, no line feed added) and flushes.
// Opens the log on first use; a failed open silences the log until a name setter or
// qorl_client_debug_logfile_close clears the failure. Returns the vfprintf result, or 0
// when nothing was written; callers ignore it.
int log_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));

// The filter. text: NUL-terminated, no trailing line feed (null shows as "(null)");
// categories: msg_* bits; module: module_* code (not consulted). Masked bits are dropped;
// what remains is written as the text and a line feed: when it holds msg_trace only if
// log_level > 2, otherwise if log_level > 0. Nothing is written with the filter disabled.
void report_message(const char *text, uint32_t categories, int module);

// Turn report_message on (the initial state) or off; log_printf is not affected.
void enable_message_filter();
void disable_message_filter();
// Replaces the set of category bits that report_message drops.
void set_message_filter_mask(uint32_t mask);

// Chooses a bare file name opened under "/tmp/" on the first write (null: none).
// Both setters forget the other name and clear the failure; while the log is open they
// report a usage error and change nothing.
void qorl_client_set_autoopen_debug_logfile_name(const char *name);
// Chooses a full path instead (null: none).
void qorl_client_set_debug_logfile_name(const char *path);
// Opens the chosen path for appending now; sets the failure flag when that fails.
// Reports a usage error when the log is already open.
void qorl_client_try_open_debug_logfile();
// Opens on demand as log_printf does: nothing when open or failed; the path if set, else
// "/tmp/" + the auto-open name (the path is then remembered), else nothing.
void auto_open_debug_logfile();
// Closes the log and forgets both names and the failure; a usage error when none is open.
void qorl_client_debug_logfile_close();

// True while the log file is open.
bool qorl_client_debug_logfile_is_open();
// The auto-open name, or null.
const char *qorl_client_get_autoopen_debug_logfile_name();
// The full path (set directly, or composed by an on-demand open), or null.
const char *qorl_client_get_debug_logfile_path();
// 1 after a failed open, until a name setter or close clears it; else 0.
int qorl_client_debug_logfile_open_failed();

// Writes count bytes as characters when log_level > 1 (printable and line feed as they
// are, others as '.'), then flushes every stdio output stream. A count <= 0 or null
// bytes write nothing.
void log_char_dump(const unsigned char *bytes, int32_t count);
