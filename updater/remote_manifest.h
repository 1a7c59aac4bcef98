// The server's list of update files, fetched over HTTP and inflated line by line as it arrives.
#pragma once

#include "client/fixed_text.h"
#include "updater/file_manifest.h"

#include <zlib.h>

#include <cstdint>

// Told the manifest's download progress in compressed bytes: received so far and expected
// (-1 when the server sent no length). context: the owner's progress_context.
typedef void (*remote_manifest_progress_callback)(void *context, int32_t received,
                                                  int32_t expected);

// One line for the user, without a line feed. context: the caller's report_context.
typedef void (*remote_manifest_report)(void *context, const char *line);

// Use: construct, set progress_context and progress_callback, one fetch, read head/count,
// destroy. Nothing is written to disk; the whole text is never held in memory.
class http_fetch_remote_manifest_data {
  public:
    http_fetch_remote_manifest_data();
    // Frees every record received.
    ~http_fetch_remote_manifest_data();
    http_fetch_remote_manifest_data(const http_fetch_remote_manifest_data &) = delete;
    http_fetch_remote_manifest_data &operator=(const http_fetch_remote_manifest_data &) = delete;

    // GETs path from host on port 80 without SSL and parses the gzip (or zlib) text.
    // Returns the number of records received, or -1 when the download failed, the data
    // was not a complete compressed stream, or a line was bad (the list is then empty).
    int32_t fetch(const char *host, const char *path);
    // Fetches "<remote_directory>/<manifest_name>" as fetch does and tells the user through
    // report(report_context, line): "Error fetching update file '<manifest_name>' from remote
    // server, aborting update." when it fails, "Retrieved <n> records from remote server."
    // when it succeeds and verbose is non-zero. Returns what fetch returns.
    int32_t fetch_update_list(const char *host, const char *remote_directory,
                              const char *manifest_name, int verbose, remote_manifest_report report,
                              void *report_context);

    // Frees any records, empties the list and starts a fresh inflate stream (window bits
    // 47: gzip or zlib header). Returns 1, or 0 when zlib could not be initialised.
    int begin_inflate();
    // Ends the inflate stream; safe to call more than once.
    void end_inflate();

    // Consumes inflated text: each line feed ends a line that is parsed into a record and
    // appended. Returns 1, or 0 on a bad line (reported; every record is then freed).
    int accept_text(const unsigned char *bytes, int32_t length);
    // Parses a last line that had no line feed. Returns as accept_text.
    int finish_text();

    // The downloader's callbacks; user_data is the fetcher. The data callback inflates one
    // chunk completely through a 64 KiB window and returns 0 to abort on bad data.
    static int download_data_callback(void *user_data, const unsigned char *bytes, int32_t length);
    static void download_progress_callback(void *user_data, int32_t received, int32_t expected);

    fixed_text line;        // inflated bytes of the line being collected
    manifest_entry *head;   // records in the server's order (owned)
    manifest_entry **tail;  // where the next record is linked
    int32_t count;          // records in the list
    z_stream stream;        // inflate state
    int stream_open;        // stream initialised and not yet ended
    int stream_ended;       // the compressed stream reached its proper end
    void *progress_context; // passed back to progress_callback
    remote_manifest_progress_callback progress_callback; // may be null

  private:
    void free_records();
};
