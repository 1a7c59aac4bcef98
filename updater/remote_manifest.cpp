// The server's list of update files: the manifest is inflated and parsed as it arrives.
#include "updater/remote_manifest.h"

#include "client/debug_log.h"
#include "http/http_downloader.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr int32_t inflate_window_size = 65536;
constexpr int gzip_or_zlib_window_bits = 15 + 32;

} // namespace

http_fetch_remote_manifest_data::http_fetch_remote_manifest_data()
    : head(nullptr), tail(&head), count(0), stream_open(0), stream_ended(0),
      progress_context(nullptr), progress_callback(nullptr) {
    line.clear();
    memset(&stream, 0, sizeof stream);
}

http_fetch_remote_manifest_data::~http_fetch_remote_manifest_data() {
    end_inflate();
    free_records();
}

void http_fetch_remote_manifest_data::free_records() {
    free_manifest_list(head);
    head = nullptr;
    tail = &head;
    count = 0;
}

int http_fetch_remote_manifest_data::begin_inflate() {
    end_inflate();
    free_records();
    line.clear();
    stream_ended = 0;
    memset(&stream, 0, sizeof stream);
    stream.zalloc = Z_NULL;
    stream.zfree = Z_NULL;
    stream.opaque = Z_NULL;
    stream.next_in = Z_NULL;
    stream.avail_in = 0;
    if (inflateInit2(&stream, gzip_or_zlib_window_bits) != Z_OK)
        return 0;
    stream_open = 1;
    return 1;
}

void http_fetch_remote_manifest_data::end_inflate() {
    if (stream_open)
        inflateEnd(&stream);
    stream_open = 0;
}

int32_t http_fetch_remote_manifest_data::fetch(const char *host, const char *path) {
    if (!begin_inflate())
        return -1;
    int ok;
    {
        qorl_http_downloader downloader;
        downloader.set_connection(host, 80, 0);
        downloader.progress_callback = download_progress_callback;
        downloader.data_callback = download_data_callback;
        downloader.user_data = this;
        ok = downloader.download(host, path);
    }
    end_inflate();
    if (!ok) {
        free_records();
        return -1;
    }
    // A transfer that ends inside the compressed stream is a truncated list, not a
    // shorter one: nothing of it is trusted.
    if (!stream_ended) {
        report_message("Error in http_fetch_remote_manifest_data::fetch(), compressed data "
                       "ended early.",
                       msg_runtime, module_updater);
        free_records();
        return -1;
    }
    return count;
}

int32_t http_fetch_remote_manifest_data::fetch_update_list(const char *host,
                                                           const char *remote_directory,
                                                           const char *manifest_name, int verbose,
                                                           remote_manifest_report report,
                                                           void *report_context) {
    fixed_text path;
    path.clear();
    path.append(remote_directory);
    path.append("/");
    path.append(manifest_name);
    const int32_t records = fetch(host, path.text);
    if (records < 0) {
        fixed_text text;
        text.clear();
        text.append("Error fetching update file '");
        text.append(manifest_name);
        text.append("' from remote server, aborting update.");
        report(report_context, text.text);
    } else if (verbose) {
        char text[64];
        snprintf(text, sizeof text, "Retrieved %d records from remote server.",
                 static_cast<int>(records));
        report(report_context, text);
    }
    return records;
}

int http_fetch_remote_manifest_data::accept_text(const unsigned char *bytes, int32_t length) {
    for (int32_t i = 0; i < length; ++i) {
        const char c = static_cast<char>(bytes[i]);
        if (c != '\n') {
            if (line.has_room())
                line.append_char(c);
            continue;
        }
        manifest_entry *record = nullptr;
        if (!parse_manifest_line("downloaded data", line.text, &record)) {
            free_records();
            line.clear();
            return 0;
        }
        line.clear();
        if (record != nullptr) {
            *tail = record;
            tail = &record->next;
            ++count;
        }
    }
    return 1;
}

int http_fetch_remote_manifest_data::finish_text() {
    if (line.length == 0)
        return 1;
    const unsigned char line_feed = '\n';
    return accept_text(&line_feed, 1);
}

int http_fetch_remote_manifest_data::download_data_callback(void *user_data,
                                                            const unsigned char *bytes,
                                                            int32_t length) {
    auto *self = static_cast<http_fetch_remote_manifest_data *>(user_data);
    if (self->stream_ended || length <= 0)
        return 1; // bytes after the end of the compressed stream are ignored
    self->stream.next_in = const_cast<Bytef *>(bytes);
    self->stream.avail_in = static_cast<uInt>(length);
    unsigned char window[inflate_window_size];
    for (;;) {
        self->stream.next_out = window;
        self->stream.avail_out = inflate_window_size;
        const int result = inflate(&self->stream, Z_NO_FLUSH);
        if (result == Z_BUF_ERROR)
            return 1; // the chunk is used up
        if (result != Z_OK && result != Z_STREAM_END) {
            report_message("Error in http_fetch_remote_manifest_data::download_data_callback(), "
                           "ZLip inflate failed?",
                           msg_runtime, module_updater);
            return 0;
        }
        const int32_t produced = inflate_window_size - static_cast<int32_t>(self->stream.avail_out);
        if (produced > 0 && !self->accept_text(window, produced))
            return 0;
        if (result == Z_STREAM_END) {
            // The text is complete: a last line without a line feed counts too.
            self->stream_ended = 1;
            return self->finish_text();
        }
    }
}

void http_fetch_remote_manifest_data::download_progress_callback(void *user_data, int32_t received,
                                                                 int32_t expected) {
    auto *self = static_cast<http_fetch_remote_manifest_data *>(user_data);
    if (self->progress_callback != nullptr)
        self->progress_callback(self->progress_context, received, expected);
}
