// HTTP processor: construction, content types, request heads and the outgoing body.
#include "http/http_processor.h"

#include "client/debug_log.h"
#include "http/http_fields.h"
#include "util/base64.h"
#include "util/string_utils.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

using http_fields::copy_cut;

namespace {

constexpr int32_t tx_block = 8192;

struct content_type_entry {
    int code;
    const char *name;
};

constexpr content_type_entry content_types[] = {
    {content_type_text_plain, "text/plain"},
    {content_type_text_html, "text/html"},
    {content_type_form_urlencoded, "application/x-www-form-urlencoded"},
    {content_type_xml, "application/xml"},
    {content_type_rss_xml, "application/rss+xml"},
    {content_type_json, "application/json"},
};

} // namespace

const char *content_type_name(int code) {
    for (const content_type_entry &e : content_types)
        if (e.code == code)
            return e.name;
    return "binary/unknown";
}

int content_type_from_text(const char *text) {
    if (text == nullptr)
        return content_type_other;
    fixed_text token;
    token.clear();
    for (const char *p = text; *p != '\0' && *p != ' ' && *p != '\t' && *p != ';'; ++p) {
        if (!token.has_room())
            break;
        token.append_char(*p);
    }
    for (const content_type_entry &e : content_types)
        if (word_equals(token.text, e.name))
            return e.code;
    return content_type_other;
}

qorl_http_data_processor_oline::qorl_http_data_processor_oline()
    : expect_continue(0), force_http_1_0(0), allow_chunked_output(0), failed(0),
      discarding_input(0), is_client(0), tx_body_remaining(0), close_when_sent(0),
      close_after_response(0), want_close(0), chunked_output(0), chunked_input(0), chunk_state(0),
      chunk_remaining(0), in_body(0), body_received(0), line_complete(0), previous_byte(0),
      peer_version(20), expect_continue_received(0), content_type_code(0), status_code(0),
      content_length(-1), line_count(0), in_head(0), user_data(nullptr),
      on_close_connection(nullptr), on_message_received(nullptr), on_content_complete(nullptr),
      on_content_data_received(nullptr), on_content_body_get_tx_data(nullptr),
      received_cookies(nullptr), cookies_to_set(nullptr) {
    sent_method[0] = '\0';
    line.clear();
    clear_message_head();
    auth_user[0] = '\0';
    auth_password[0] = '\0';
    cookie_prefix[0] = '\0';
    output_queue.buffer_limit = -1;
}

qorl_http_data_processor_oline::~qorl_http_data_processor_oline() {
    for (qorl_http_cookie **list : {&received_cookies, &cookies_to_set}) {
        while (*list != nullptr) {
            qorl_http_cookie *next = (*list)->next;
            delete *list;
            *list = next;
        }
    }
}

const char *qorl_http_data_processor_oline::http_version_name() const {
    return force_http_1_0 ? "HTTP/1.0" : "HTTP/1.1";
}

int qorl_http_data_processor_oline::fail() {
    failed = 1;
    return -1;
}

int qorl_http_data_processor_oline::message_in_progress(const char *operation) {
    if (close_after_response || failed)
        return 1;
    if (tx_body_remaining > 0) {
        http_fields::report3("Error in qorl_http_data_processor_oline, attempt to '", operation,
                             "' without completing previous message.", msg_runtime);
        return 1;
    }
    return 0;
}

int qorl_http_data_processor_oline::set_basic_authorization(const char *user,
                                                            const char *password) {
    auth_user[0] = '\0';
    auth_password[0] = '\0';
    int result = 1;
    // The credential itself never goes to the log: only that it was cut.
    if (user != nullptr && strlen(user) >= sizeof auth_user) {
        report_message("Error in qorl_http_data_processor_oline::set_basic_authorization(), "
                       "user name too long, cut to 63 characters.",
                       msg_runtime, module_http);
        result = 0;
    }
    if (password != nullptr && strlen(password) >= sizeof auth_password) {
        report_message("Error in qorl_http_data_processor_oline::set_basic_authorization(), "
                       "password too long, cut to 63 characters.",
                       msg_runtime, module_http);
        result = 0;
    }
    copy_cut(auth_user, user);
    copy_cut(auth_password, password);
    return result;
}

void qorl_http_data_processor_oline::append_common_headers(fixed_text &head, int is_request,
                                                           int32_t length) {
    chunked_output = 0;
    if (length == 0) {
        head.append("Content-Length: 0\r\n");
    } else if (allow_chunked_output && peer_version > 10 && !force_http_1_0) {
        head.append("Transfer-Encoding: chunked\r\n");
        chunked_output = 1;
    } else if (length > 0) {
        char framing[48];
        snprintf(framing, sizeof framing, "Content-Length: %d\r\n", int(length));
        head.append(framing);
    }
    bool old_peer = peer_version <= 10;
    if (is_request) {
        if (auth_user[0] != '\0' || auth_password[0] != '\0') {
            char credential[sizeof auth_user + sizeof auth_password];
            snprintf(credential, sizeof credential, "%s:%s", auth_user, auth_password);
            head.append("Authorization: Basic ");
            if (!base64_encode_text(head, credential))
                head.length = fixed_text::overflowed; // did not fit: the head is refused
            head.append("\r\n");
        }
        head.append("Accept-Encoding: identity\r\n");
        if (expect_continue)
            head.append("Expect: 100-continue\r\n");
        if (want_close || old_peer || force_http_1_0) {
            head.append("Connection: close\r\n");
            close_after_response = 1;
        }
    } else if (want_close || old_peer || force_http_1_0 || length < 0) {
        head.append("Connection: close\r\n");
        close_when_sent = 1;
    }
}

int qorl_http_data_processor_oline::queue_head(const fixed_text &head, const char *operation) {
    if (head.length >= fixed_text::overflowed) {
        http_fields::report3("Error in qorl_http_data_processor_oline::", operation,
                             "(), message head does not fit in 5999 characters, not sent.",
                             msg_runtime);
        return 0;
    }
    output_queue.add_text(head.text);
    return 1;
}

int qorl_http_data_processor_oline::start_request(const char *method, const char *operation,
                                                  const char *host, const char *path,
                                                  int escape_path, int content_type_code,
                                                  int32_t length) {
    if (message_in_progress(operation))
        return 0;
    if (path == nullptr || path[0] == '\0')
        path = "/";
    // Flags the head changes are put back if it turns out too long to send.
    const int saved_chunked = chunked_output, saved_close = close_after_response;

    fixed_text head;
    head.clear();
    head.append(method);
    head.append(" ");
    if (escape_path) {
        for (const unsigned char *p = reinterpret_cast<const unsigned char *>(path); *p; ++p) {
            char piece[4];
            if (*p >= 0x21 && *p <= 0x7e)
                snprintf(piece, sizeof piece, "%c", *p);
            else
                snprintf(piece, sizeof piece, "%%%02x", *p);
            head.append(piece);
        }
    } else {
        head.append(path);
    }
    head.append(" ");
    head.append(http_version_name());
    head.append("\r\nHost: ");
    head.append(host);
    head.append("\r\n");
    const bool is_post = strcmp(method, "POST") == 0;
    if (is_post) {
        head.append("Content-Type: ");
        head.append(content_type_name(content_type_code));
        head.append("; charset=utf-8\r\n");
    }
    append_common_headers(head, 1, length);
    append_set_cookie_headers(head);
    head.append("\r\n");
    if (!queue_head(head, operation)) {
        chunked_output = saved_chunked;
        close_after_response = saved_close;
        return 0;
    }
    copy_cut(sent_method, method);
    is_client = 1;
    if (is_post) {
        tx_body_remaining = length;
        return fill_content_body();
    }
    return 1;
}

int qorl_http_data_processor_oline::start_http_GET(const char *host, const char *path) {
    return start_request("GET", "start_http_GET", host, path, 1, 0, 0);
}

int qorl_http_data_processor_oline::start_http_HEAD(const char *host, const char *path) {
    return start_request("HEAD", "start_http_HEAD", host, path, 0, 0, 0);
}

int qorl_http_data_processor_oline::start_http_POST(const char *host, const char *path,
                                                    int content_type_code, int32_t length) {
    return start_request("POST", "start_http_POST", host, path, 0, content_type_code, length);
}

int qorl_http_data_processor_oline::fill_content_body() {
    if (tx_body_remaining == 0)
        return 1;
    if (on_content_body_get_tx_data == nullptr) {
        report_message("Error in qorl_http_data_processor_oline::fill_content_body(), tx "
                       "callback function was NULL.",
                       msg_runtime, module_http);
        return 0;
    }
    unsigned char buffer[tx_block];
    for (;;) {
        int32_t want =
            (tx_body_remaining >= 1 && tx_body_remaining < tx_block) ? tx_body_remaining : tx_block;
        int n = on_content_body_get_tx_data(this, user_data, buffer, want);
        if (n < -1 || n > want)
            return 0;
        if (n == 0)
            return 1;
        if (n == -1) {
            if (chunked_output) {
                output_queue.add_text("0\r\n");
                tx_body_remaining = 0;
                return 1;
            }
            if (tx_body_remaining > 0)
                return 0; // the body ended short of its declared length
            tx_body_remaining = 0;
            return 1;
        }
        if (chunked_output) {
            char size_line[24];
            snprintf(size_line, sizeof size_line, "%x%s", unsigned(n), "\r\n");
            output_queue.add_text(size_line);
        }
        output_queue.add_bytes(buffer, n);
        if (tx_body_remaining > 0)
            tx_body_remaining -= n;
        if (chunked_output) {
            output_queue.add_text("\r\n");
            if (tx_body_remaining == 0) {
                output_queue.add_text("0\r\n");
                return 1;
            }
        } else if (tx_body_remaining == 0) {
            return 1;
        }
    }
}

int32_t qorl_http_data_processor_oline::fetch_outgoing_data(unsigned char *buffer,
                                                            int32_t capacity) {
    if (capacity <= 0 || failed)
        return -1;
    if (tx_body_remaining != 0 && !fill_content_body())
        return -1;
    if (in_body || !output_queue.is_empty())
        return output_queue.read_block(buffer, capacity);
    if (close_when_sent) {
        if (on_close_connection != nullptr)
            on_close_connection(this, user_data);
        close_when_sent = 0;
        close_after_response = 0;
        want_close = 0;
        in_head = 0;
    }
    if (discarding_input)
        failed = 1;
    return 0;
}
