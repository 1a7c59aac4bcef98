// HTTP downloader: drives a socket and a message processor through one GET, blocking.
#include "http/http_downloader.h"

#include "client/debug_log.h"
#include "http/http_processor.h"
#include "util/string_utils.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <memory>

namespace {

// Requests go out in blocks of the processor's 8192 bytes. Responses come in through a
// larger block: with one system call per block, 8 KiB reads kept a local transfer at
// about 80 % of curl's speed, 64 KiB reads match it.
constexpr int32_t send_block = 8192;
constexpr int32_t receive_block = 65536;

void report(const char *text, uint32_t category) {
    report_message(text, category, module_downloader);
}

int64_t now_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

} // namespace

qorl_http_downloader::qorl_http_downloader()
    : use_ssl(0), port(0), output_file(nullptr), expected_size(-1), received_size(0),
      data_callback(nullptr), progress_callback(nullptr), user_data(nullptr), wait_timeout_ms(5000),
      stall_timeout_ms(30000), response_complete(0), file_opened(0) {
    memset(&address, 0, sizeof address);
    destination_file.clear();
}

qorl_http_downloader::~qorl_http_downloader() {
    close_output_file();
}

void qorl_http_downloader::close_output_file() {
    if (output_file != nullptr) {
        fclose(output_file);
        output_file = nullptr;
    }
}

int qorl_http_downloader::is_dotted_ipv4(const char *text) {
    if (text == nullptr)
        return 0;
    int dots = 0, digits = 0;
    for (const char *p = text; *p != '\0'; ++p) {
        if (*p == '.')
            ++dots;
        else if (*p >= '0' && *p <= '9')
            ++digits;
        else
            return 0;
    }
    if (dots != 3 || digits < 4 || digits > 12)
        return 0;
    const char *part = text;
    for (int i = 0; i < 4; ++i) {
        int32_t value = 0;
        if (!parse_int(part, &value) || value > 255)
            return 0;
        if (i < 3)
            part = strchr(part, '.') + 1;
    }
    return 1;
}

int qorl_http_downloader::resolve_host_address(const char *host, struct sockaddr_in *address) {
    if (host == nullptr || address == nullptr)
        return 0;
    network_startup();
    if (is_dotted_ipv4(host)) {
        address->sin_addr.s_addr = inet_addr(host);
        address->sin_family = AF_INET;
        return 1;
    }
    addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    addrinfo *results = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &results) != 0 || results == nullptr)
        return 0;
    address->sin_addr = reinterpret_cast<sockaddr_in *>(results->ai_addr)->sin_addr;
    address->sin_family = AF_INET;
    freeaddrinfo(results);
    return 1;
}

int qorl_http_downloader::set_connection(const char *host, int port_number, int ssl) {
    if (host == nullptr) {
        report("Error in qorl_http_downloader::set_connection(), NULL host name.", msg_usage);
        return 0;
    }
    use_ssl = ssl;
    port = port_number;
    return resolve_host_address(host, &address);
}

int qorl_http_downloader::download(const char *host, const char *path, const char *destination) {
    if (host == nullptr) {
        report("Error in qorl_http_downloader::download(), NULL host.", msg_usage);
        return 0;
    }
    if (path == nullptr) {
        report("Error in qorl_http_downloader::download(), NULL path.", msg_usage);
        return 0;
    }
    if (destination == nullptr) {
        report("Error in qorl_http_downloader::download(), NULL destination file name.", msg_usage);
        return 0;
    }
    if (data_callback != nullptr) {
        report("Error in qorl_http_downloader::download(), attempt to do file based download "
               "after setting data callback.",
               msg_usage);
        return 0;
    }
    destination_file.assign(destination);
    if (destination_file.length > fixed_text::capacity - 1)
        destination_file.length = fixed_text::capacity - 1;
    return download(host, path);
}

int qorl_http_downloader::download(const char *host, const char *path) {
    if (destination_file.length == 0 && data_callback == nullptr) {
        report("Error in qorl_http_downloader::download(), NULL destination file name and NULL "
               "download data callback.",
               msg_usage);
        return 0;
    }
    if (use_ssl)
        socket.enable_ssl();
    else
        socket.disable_ssl();
    if (socket.connect_with_timeout(&address, port, wait_timeout_ms) <= 0) {
        report("Error in qorl_http_downloader::download(), connect failed.", msg_protocol);
        if (socket.state != tcp_state_unconnected)
            socket.close_connection();
        return 0;
    }
    int result;
    {
        qorl_http_data_processor_oline processor;
        processor.user_data = this;
        processor.on_close_connection = callback_close_connection;
        processor.on_message_received = callback_message_received;
        processor.on_content_complete = callback_content_complete;
        processor.on_content_data_received = callback_content_data_received;
        processor.on_content_body_get_tx_data = callback_content_body_get_tx_data;
        processor.want_close = 1;
        result = exchange(processor, host, path);
    }
    // Whatever happened, the owner gets a closed file and a closed connection.
    close_output_file();
    if (socket.state != tcp_state_unconnected || socket.socket.descriptor != -1)
        socket.close_connection();
    return result;
}

// The read error table: what arrived decides the message, and a file whose state is
// unknown is removed (only one this download created).
int qorl_http_downloader::read_failed(const char *reason) {
    if (reason != nullptr)
        report(reason, msg_runtime);
    const bool all = received_size == expected_size;
    if (progress_callback != nullptr) {
        report(all ? "Error in qorl_http_downloader::download(), blocking read failed but all "
                     "data received."
                   : "Error in qorl_http_downloader::download(), blocking read failed, not all "
                     "bytes read.",
               msg_runtime);
    } else if (all) {
        report("Error in qorl_http_downloader::download(), blocking read failed but file seems "
               "ok.  Keeping file.",
               msg_runtime);
    } else {
        report("Error in qorl_http_downloader::download(), blocking read failed, unknown file "
               "state.  Deleting file.",
               msg_runtime);
        close_output_file();
        if (file_opened && data_callback == nullptr && destination_file.length > 0)
            unlink(destination_file.text);
    }
    return 0;
}

int qorl_http_downloader::exchange(qorl_http_data_processor_oline &processor, const char *host,
                                   const char *path) {
    response_complete = 0;
    file_opened = 0;
    expected_size = -1;
    received_size = 0;
    if (!processor.start_http_GET(host, path)) {
        report("Error in qorl_http_downloader::download(), unable to start HTTP GET?", msg_runtime);
        return 0;
    }

    // One buffer carries the request out and the response in; body bytes go from it
    // straight to the file or the data callback.
    std::unique_ptr<unsigned char[]> block(new unsigned char[receive_block]);
    unsigned char *buffer = block.get();
    int64_t last_progress = now_ms();
    auto wait_for = [&]() {
        int64_t left = stall_timeout_ms - (now_ms() - last_progress);
        if (left < 1)
            left = 1;
        return int(left < wait_timeout_ms ? left : wait_timeout_ms);
    };
    auto stalled = [&]() { return now_ms() - last_progress >= stall_timeout_ms; };

    while (socket.update_state() & tcp_state_connected) {
        int32_t n = processor.fetch_outgoing_data(buffer, send_block);
        if (n == 0)
            break;
        if (n < 0) {
            report("Error in qorl_http_downloader::download(), blocking write failed.",
                   msg_runtime);
            return 0;
        }
        for (int32_t sent = 0; sent < n;) {
            int w = socket.write_with_timeout(buffer + sent, n - sent, wait_for());
            if (w < 0 || (w == 0 && stalled())) {
                report("Error in qorl_http_downloader::download(), blocking write failed.",
                       msg_runtime);
                return 0;
            }
            if (w > 0) {
                sent += w;
                last_progress = now_ms();
            }
        }
    }

    last_progress = now_ms();
    for (;;) {
        if (socket.update_state() == tcp_state_unconnected) {
            if (response_complete)
                return 1;
            report("Error in qorl_http_downloader::download(), connection closed before the "
                   "response was complete.",
                   msg_runtime);
            return 0;
        }
        // Data already waiting is taken without a wait; only an empty socket waits.
        int r = socket.nonblocking_read(buffer, receive_block);
        if (r == 0)
            r = socket.read_with_timeout(buffer, receive_block, wait_for());
        if (r > 0) {
            last_progress = now_ms();
            int processed = processor.process_incoming_data(buffer, r);
            // Bytes after a complete response (which closed the connection) are not
            // the download's concern.
            if (processed < 0 && response_complete)
                return 1;
            if (processed < 0) {
                report("Error in qorl_http_downloader::download(), http data fetch failed.",
                       msg_runtime);
                return 0;
            }
            if (processed == 0)
                return 1;
            continue;
        }
        if (r == 0) {
            if (!stalled())
                continue;
            socket.close_connection();
            return read_failed("Error in qorl_http_downloader::download(), no data arrived "
                               "for too long, giving up.");
        }
        if (socket.read_error != 0)
            return read_failed(nullptr);
        // The peer closed cleanly: that ends a body delimited by the close, and nothing else.
        processor.note_connection_closed();
        if (response_complete)
            return 1;
        report("Error in qorl_http_downloader::download(), connection closed before all data "
               "arrived.",
               msg_runtime);
        return 0;
    }
}

void qorl_http_downloader::callback_close_connection(qorl_http_data_processor_oline *,
                                                     void *user_data) {
    static_cast<qorl_http_downloader *>(user_data)->socket.close_connection();
}

int qorl_http_downloader::callback_message_received(qorl_http_data_processor_oline *processor,
                                                    void *user_data) {
    auto *self = static_cast<qorl_http_downloader *>(user_data);
    if (self->destination_file.length == 0 && self->data_callback == nullptr) {
        report("Error in qorl_http_downloader::callback_message_received(), NULL destination "
               "file name and NULL download data callback.",
               msg_usage);
        return 0;
    }
    // An interim response (100 Continue) only announces the real one.
    if (processor->status_code >= 100 && processor->status_code <= 199)
        return 1;
    self->received_size = 0;
    self->expected_size = processor->content_length;
    if (self->data_callback != nullptr) {
        if (processor->status_code == 200)
            return 1;
        report("Warning in qorl_http_downloader::callback_message_received(), download failed "
               "in callback mode.",
               msg_runtime);
        return 0;
    }
    fixed_text message;
    message.clear();
    if (processor->status_code == 200) {
        self->output_file = fopen(self->destination_file.text, "wb");
        if (self->output_file != nullptr) {
            self->file_opened = 1;
            // Unbuffered: each run of body bytes goes from the receive buffer to one write.
            setvbuf(self->output_file, nullptr, _IONBF, 0);
            return 1;
        }
        message.append("Warning in qorl_http_downloader::callback_message_received(), unable to "
                       "open output file '");
    } else {
        message.append("Warning in qorl_http_downloader::callback_message_received(), download "
                       "failed for file '");
    }
    message.append(self->destination_file.text);
    message.append("'.  Aborting download.");
    report(message.text, msg_runtime);
    return 0;
}

int qorl_http_downloader::callback_content_complete(qorl_http_data_processor_oline *processor,
                                                    void *user_data) {
    auto *self = static_cast<qorl_http_downloader *>(user_data);
    if (processor->status_code >= 100 && processor->status_code <= 199)
        return 1;
    if (self->output_file != nullptr) {
        int closed = fclose(self->output_file);
        self->output_file = nullptr;
        if (closed != 0) {
            report("Warning in qorl_http_downloader::callback_content_complete(), unable to "
                   "close the output file.",
                   msg_runtime);
            return 0;
        }
    }
    self->response_complete = 1;
    return 1;
}

int qorl_http_downloader::callback_content_data_received(qorl_http_data_processor_oline *,
                                                         void *user_data,
                                                         const unsigned char *bytes,
                                                         int32_t count) {
    auto *self = static_cast<qorl_http_downloader *>(user_data);
    if (count <= 0)
        return 0;
    if (self->received_size == 0 && self->progress_callback != nullptr)
        self->progress_callback(self->user_data, 0, self->expected_size);
    int result;
    if (self->data_callback != nullptr) {
        result = self->data_callback(self->user_data, bytes, count);
        self->received_size += count;
    } else if (self->output_file != nullptr) {
        if (fwrite(bytes, 1, size_t(count), self->output_file) != size_t(count)) {
            report("Warning in qorl_http_downloader::callback_content_data_received(), unable to "
                   "write all data to disk.  Bailing.",
                   msg_runtime);
            return 0;
        }
        self->received_size += count;
        result = 1;
    } else {
        report("Warning in qorl_http_downloader::callback_content_data_received(), attempt to "
               "download data via callback, only no callback set.",
               msg_runtime);
        return 0;
    }
    if (self->progress_callback != nullptr)
        self->progress_callback(self->user_data, self->received_size, self->expected_size);
    return result;
}

int qorl_http_downloader::callback_content_body_get_tx_data(qorl_http_data_processor_oline *,
                                                            void *, unsigned char *, int32_t) {
    report("Error in qorl_http_downloader::callback_content_body_get_tx_data(), this callback "
           "should never be invoked.",
           msg_usage);
    return -1;
}
