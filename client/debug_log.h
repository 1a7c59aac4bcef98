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

// Writes a formatted entry unchanged (no prefix, no line feed) and flushes.
// Opens the log on first use; a failed open silences the log for good.
int log_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));

// The filter: drops masked categories, writes msg_trace only when log_level > 2,
// anything else when log_level > 0, as the text followed by a line feed.
void report_message(const char *text, uint32_t categories, int module);

void enable_message_filter();
void disable_message_filter();
void set_message_filter_mask(uint32_t mask);

// Chooses a bare file name opened under "/tmp/" on the first write.
void qorl_client_set_autoopen_debug_logfile_name(const char *name);
// Chooses a full path instead.
void qorl_client_set_debug_logfile_name(const char *path);
void qorl_client_try_open_debug_logfile();
void auto_open_debug_logfile();
void qorl_client_debug_logfile_close();

bool qorl_client_debug_logfile_is_open();
const char *qorl_client_get_autoopen_debug_logfile_name();
const char *qorl_client_get_debug_logfile_path();
int qorl_client_debug_logfile_open_failed();

// Writes count bytes as characters (printable and line feed as they are, others as '.').
void log_char_dump(const unsigned char *bytes, int32_t count);
