// HTTP downloader: one blocking GET over one connection, body to a file or a callback.
#pragma once

#include "client/fixed_text.h"
#include "net/tcp_socket.h"

#include <netinet/in.h>

#include <cstdint>
#include <cstdio>

class qorl_http_data_processor_oline;

// Receives body bytes in the callback form, straight from the receive buffer.
// Returns non-zero to go on, 0 to abort the download.
typedef int (*qorl_download_data_callback)(void *user_data, const unsigned char *bytes,
                                           int32_t count);
// Told the progress in body bytes: received so far, and expected (the response's
// Content-Length, -1 when it has none). Called with (0, expected) before the first bytes
// and after every delivery.
typedef void (*qorl_download_progress_callback)(void *user_data, int32_t received,
                                                int32_t expected);

// Use: construct, set_connection, set the callbacks and user_data, one download, destroy.
// Only a 200 response counts as success; no redirect is followed. The connection and
// the output file are closed whenever download returns.
class qorl_http_downloader {
  public:
    qorl_http_downloader();
    ~qorl_http_downloader();
    qorl_http_downloader(const qorl_http_downloader &) = delete;
    qorl_http_downloader &operator=(const qorl_http_downloader &) = delete;

    // Stores port and SSL choice and resolves host (dotted IPv4 without a lookup, else an
    // IPv4 name lookup). 1 when the host resolved, 0 otherwise (also for a null host).
    int set_connection(const char *host, int port, int use_ssl);

    // Callback form: GET path from host (the Host line's text) over a new connection and
    // hand the body to data_callback (or, when only destination_file is set, to that
    // file). 1 when the whole body arrived; 0 on any failure (details in the log).
    int download(const char *host, const char *path);
    // File form: as above, the body written to destination (created or truncated once a
    // 200 head has arrived). Refused when data_callback is set. 1 on success, 0 on failure.
    int download(const char *host, const char *path, const char *destination);

    // 1 for a dotted quad of four numbers 0-255 (digits and exactly three dots).
    static int is_dotted_ipv4(const char *text);
    // Fills the family and address of *address; 1 on success, 0 (unchanged) on failure.
    static int resolve_host_address(const char *host, struct sockaddr_in *address);

    int use_ssl;
    int port;
    struct sockaddr_in address;
    fixed_text destination_file; // empty selects no file
    FILE *output_file;           // open while a 200 body is being written
    int32_t expected_size;       // Content-Length of the response, -1 when none
    int32_t received_size;       // body bytes delivered so far
    qorl_tcp_socket socket;
    qorl_download_data_callback data_callback;
    qorl_download_progress_callback progress_callback;
    void *user_data; // passed to both callbacks

    // Each connect, read and write wait lasts at most wait_timeout_ms (5000). The download
    // fails like a read error once no byte has moved for stall_timeout_ms (30000), however
    // long the whole transfer takes.
    int wait_timeout_ms;
    int stall_timeout_ms;

    // The processor's callbacks; user_data is the downloader.
    static void callback_close_connection(qorl_http_data_processor_oline *processor,
                                          void *user_data);
    static int callback_message_received(qorl_http_data_processor_oline *processor,
                                         void *user_data);
    static int callback_content_complete(qorl_http_data_processor_oline *processor,
                                         void *user_data);
    static int callback_content_data_received(qorl_http_data_processor_oline *processor,
                                              void *user_data, const unsigned char *bytes,
                                              int32_t count);
    static int callback_content_body_get_tx_data(qorl_http_data_processor_oline *processor,
                                                 void *user_data, unsigned char *buffer,
                                                 int32_t capacity);

  private:
    int response_complete; // the final response's body is complete
    int file_opened;       // this download created or truncated destination_file

    int exchange(qorl_http_data_processor_oline &processor, const char *host, const char *path);
    int read_failed(const char *reason);
    void close_output_file();
};
