// HTTP/1.x message processor: one connection's requests, responses, bodies and cookies.
#pragma once

#include "client/fixed_text.h"
#include "net/socket_data_queue.h"

#include <cstdint>

// Content type codes. Codes outside 1-13, and 3-9, name "binary/unknown".
enum : int {
    content_type_text_plain = 1,
    content_type_text_html = 2,
    content_type_form_urlencoded = 10,
    content_type_xml = 11,
    content_type_rss_xml = 12,
    content_type_json = 13,
    content_type_other = 99, // any other text received (decoding only)
};

// The text of a content type code ("binary/unknown" for unassigned codes).
const char *content_type_name(int code);
// The code of a Content-Type value: its first token (up to space, tab or ";") compared
// case-insensitively with the named types; 99 when none matches (or a null text).
int content_type_from_text(const char *text);

// One cookie, a heap record in a singly linked list of a processor.
struct qorl_http_cookie {
    qorl_http_cookie *next;
    int secure;      // write "; Secure" in its Set-Cookie line
    int32_t max_age; // seconds written after "Max-Age="
    char key[64];
    char domain[64];
    char value[256];

    // A record with empty texts, secure 1 and max_age 300.
    qorl_http_cookie();

    // Each stores the text (null means empty) and returns 1; a text that does not fit
    // (63, 63, 255 characters) leaves the field as it was, is reported, and returns 0.
    int set_key(const char *text);
    int set_domain(const char *text);
    int set_value(const char *text);
};

class qorl_http_data_processor_oline;

// Event callbacks; every one gets the processor and its user_data back.
// The owner must close the connection now.
typedef void (*qorl_http_close_callback)(qorl_http_data_processor_oline *processor,
                                         void *user_data);
// A received head is complete (on_message_received) or a received body is complete
// (on_content_complete, also fired for messages without a body). Non-zero goes on;
// 0 fails the exchange.
typedef int (*qorl_http_event_callback)(qorl_http_data_processor_oline *processor, void *user_data);
// Received body bytes, straight from the caller's receive buffer. Non-zero when all
// were taken; 0 fails the exchange.
typedef int (*qorl_http_data_callback)(qorl_http_data_processor_oline *processor, void *user_data,
                                       const unsigned char *bytes, int32_t count);
// Supplies outgoing body bytes into buffer (capacity at most 8192): returns the bytes
// placed (1 ... capacity), 0 when none are available yet (asked again on the next fetch),
// -1 when the body is finished; below -1 fails the body.
typedef int (*qorl_http_tx_callback)(qorl_http_data_processor_oline *processor, void *user_data,
                                     unsigned char *buffer, int32_t capacity);

// Turns requests and responses into bytes in output_queue, which the owner drains onto
// the connection with fetch_outgoing_data, and parses the bytes the owner feeds to
// process_incoming_data. One processor serves one connection, as client or as server.
// The owner sets user_data, the callbacks and the option flags right after construction.
class qorl_http_data_processor_oline {
  public:
    qorl_http_data_processor_oline();
    ~qorl_http_data_processor_oline();
    qorl_http_data_processor_oline(const qorl_http_data_processor_oline &) = delete;
    qorl_http_data_processor_oline &operator=(const qorl_http_data_processor_oline &) = delete;

    // ---- Options (set by the owner) and state flags.
    int expect_continue;       // send "Expect: 100-continue" in requests
    int force_http_1_0;        // HTTP/1.0: never chunk, always ask to close
    int allow_chunked_output;  // chunk a non-empty outgoing body when the peer speaks 1.1
    int failed;                // the exchange failed; feeds and fetches return -1
    int discarding_input;      // a 400 was queued; further input is swallowed
    int is_client;             // this side sent a request and expects a response
    int32_t tx_body_remaining; // outgoing body bytes still to pull; <0: until tx says end
    int close_when_sent;       // close once output_queue has been drained
    int close_after_response;  // close once the final response has arrived
    int want_close;            // ask for "Connection: close" in the next message
    int chunked_output;        // the outgoing body is framed as chunks
    int chunked_input;         // the incoming body is chunked
    int chunk_state;           // 1 size line, 2 chunk data, 0 or 3 the empty line after data
    int chunk_remaining;       // bytes left in the current incoming chunk
    int in_body;               // incoming bytes are body bytes
    int body_received;         // incoming body bytes delivered so far
    char sent_method[32];
    fixed_text line;   // incoming line being collected
    int line_complete; // line holds a whole line
    int previous_byte; // last byte seen by the line collector, 0 at a line start
    char version_text[32];
    int peer_version; // 10 for 1.0, 11 for 1.1, 20 newer or unreadable, 0 below 1.0
    int expect_continue_received;
    char transfer_encoding[256];
    char content_type[64];
    int content_type_code;
    int status_code; // of the received response; 0 when none
    char reason_phrase[256];
    char request_method[32];
    char request_host[256];
    char request_path[256];  // without leading "/"
    char request_query[256]; // without "?"
    int32_t content_length;  // -1 when none was received
    int line_count;          // lines of the current head seen so far
    int in_head;             // a first line was parsed and its head is not finished
    fixed_text first_line;
    void *user_data;
    qorl_http_close_callback on_close_connection;
    qorl_http_event_callback on_message_received;
    qorl_http_event_callback on_content_complete;
    qorl_http_data_callback on_content_data_received;
    qorl_http_tx_callback on_content_body_get_tx_data;
    char auth_user[64];
    char auth_password[64];
    char cookie_prefix[32];
    qorl_http_cookie *received_cookies;
    qorl_http_cookie *cookies_to_set;
    qorl_socket_data_queue output_queue; // bytes waiting to be sent, no limit

    // ---- Requests (client side).

    // Stores the Basic authorization credential (null counts as empty). 1 when both
    // fit in 63 characters; a longer text is reported, stored cut, and gives 0.
    int set_basic_authorization(const char *user, const char *password);
    // Queue a request head for host and path (null or empty path: "/"). GET escapes
    // the path (bytes outside 0x21-0x7E as %xx); HEAD and POST copy it unchanged.
    // 1 when queued; 0 when refused (a message in progress, the connection is to close,
    // the exchange failed, or the head does not fit in 5999 characters).
    int start_http_GET(const char *host, const char *path);
    int start_http_HEAD(const char *host, const char *path);
    // As above with a Content-Type line for content_type_code and a declared body
    // length (negative: not declared). Returns the first fill_content_body's result.
    int start_http_POST(const char *host, const char *path, int content_type_code, int32_t length);
    // Moves up to capacity bytes to send into buffer. Returns the count (0 when nothing
    // is to be sent now; fires on_close_connection once everything was sent of a message
    // that closes the connection), or -1 on failure or a capacity below 1.
    int32_t fetch_outgoing_data(unsigned char *buffer, int32_t capacity);
    // Pulls outgoing body bytes from on_content_body_get_tx_data into output_queue.
    // 1 to go on, 0 on failure.
    int fill_content_body();
    // 1 when a new message must not be started now (reported when an outgoing body is
    // unfinished; operation names the refused operation).
    int message_in_progress(const char *operation);
    // "HTTP/1.0" when force_http_1_0 is set, else "HTTP/1.1".
    const char *http_version_name() const;

    // ---- Receiving (both sides).

    // Feeds received bytes. 1 when all were consumed; 0 when input is being discarded
    // after a 400 (server side); -1 on failure or a count below 1.
    int process_incoming_data(const unsigned char *bytes, int32_t count);
    // The peer closed the connection: ends a body that lasts until the close.
    void note_connection_closed();
    // 10 for "HTTP/1.0", 11 for "HTTP/1.1", 0 below 1.0, 20 for anything else.
    static int try_extract_http_version_number(const char *version);
    // Parses one complete line of a head: 0 accepted, 1 fatal, 2 accepted with a warning.
    int header_line_parse(const char *text);

    // ---- Responses (server side). Each is refused (0, nothing queued) while
    // message_in_progress says so, or when the head does not fit in 5999 characters.

    // Status line with code and reason, Content-Type, framing for length (negative:
    // until the connection closes), Set-Cookie lines; then pulls the body through
    // on_content_body_get_tx_data (none for a HEAD request). Result of fill_content_body.
    int send_response(int status_code, int content_type_code, int32_t length, const char *reason);
    int send_response_301(const char *location);
    int send_response_400(const char *reason); // null or empty: "Bad request"
    int send_response_413(const char *reason); // null or empty: "Content Body Too Large"
    int send_response_415(const char *reason); // null/empty: "Content Body in Unsupported Format"
    int send_response_501();
    int send_response_100();

    // ---- Cookies.

    // Name prefix of the cookies this side owns (null means empty). 1, or 0 when it has
    // 32 characters or more (reported; prefix unchanged).
    int set_cookie_prefix(const char *prefix);
    // Adds or updates (key compared case-insensitively) a cookie to announce.
    void set_cookie(const char *key, const char *value, const char *domain, int32_t max_age,
                    int secure);
    // Announces the cookie with an empty value, Max-Age 0 and no Secure.
    void expire_cookie(const char *key, const char *domain);
    void add_received_cookie(const char *key, const char *value);
    // The value of the first matching cookie, or null.
    const char *received_cookie_value(const char *key) const;
    const char *cookie_to_set_value(const char *key) const;
    void remove_received_cookie(const char *key);
    // Parses a Cookie header value into received_cookies, keeping only names that begin
    // with cookie_prefix (stored without it). Returns the number added or updated.
    int parse_cookie_header(const char *value);

    // ---- Building blocks, open for their owners and tests.

    // Collects one incoming line; returns the bytes consumed (line_complete when done).
    int32_t accumulate_line(const unsigned char *bytes, int32_t count);
    // Consumes a portion of the input; returns its size, 0 to wait, -1 on failure.
    int32_t consume_incoming_bytes(const unsigned char *bytes, int32_t count);
    int parse_status_line(const char *text);  // 1 on success
    int parse_request_line(const char *text); // 1 on success
    int message_has_body() const;
    int on_headers_complete();
    // Framing, authorization and connection lines of a head; sets chunked_output and the
    // close flags to match.
    void append_common_headers(fixed_text &head, int is_request, int32_t length);
    void append_set_cookie_headers(fixed_text &head);
    static qorl_http_cookie *add_or_update_cookie(qorl_http_cookie **list, const char *key,
                                                  const char *value, const char *domain,
                                                  int32_t max_age, int secure);

  private:
    void clear_message_head();
    int start_request(const char *method, const char *operation, const char *host, const char *path,
                      int escape_path, int content_type_code, int32_t length);
    int queue_head(const fixed_text &head, const char *operation);
    int send_simple_response(const char *operation, const char *status_line,
                             const char *extra_line);
    int finish_body_message(int with_close);
    int fail();
};
