// HTTP processor, receiving half: the byte-by-byte line collector, head parsing and bodies.
#include "http/http_processor.h"

#include "client/debug_log.h"
#include "http/http_fields.h"
#include "util/string_utils.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

using http_fields::copy_cut;
using http_fields::copy_word_cut;
using http_fields::report3;

namespace {

constexpr const char *parse_warning =
    "Warning in qorl_http_data_processor_oline::header_line_parse(), ";

// Calls visit(word) for each word of text (space, tab and line feed separate).
template <typename Visit> void for_each_word(const char *text, Visit visit) {
    const char *p = text;
    for (;;) {
        while (http_fields::is_space(*p))
            ++p;
        if (*p == '\0')
            return;
        visit(p);
        while (*p != '\0' && !http_fields::is_space(*p))
            ++p;
    }
}

int hex_value(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads a chunk-size line like a 20-character hexadecimal conversion: leading blanks,
// an optional sign and "0x", then digits; the rest (chunk extensions) is ignored.
// Returns 1 with *size set, 0 when nothing converts, -1 when the value does not fit
// a non-negative signed 32-bit count.
int read_chunk_size(const char *text, int32_t *size) {
    const char *p = text;
    while (*p == ' ' || *p == '\t')
        ++p;
    int width = 20;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
        --width;
    }
    if (width >= 3 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && hex_value(p[2]) >= 0) {
        p += 2;
        width -= 2;
    }
    uint64_t value = 0;
    int digits = 0;
    for (; digits < width && hex_value(*p) >= 0; ++p, ++digits)
        if (value <= uint64_t(INT32_MAX))
            value = value * 16 + uint64_t(hex_value(*p));
    if (digits == 0)
        return 0;
    if (value > uint64_t(INT32_MAX) || (negative && value != 0))
        return -1;
    *size = int32_t(value);
    return 1;
}

} // namespace

int qorl_http_data_processor_oline::process_incoming_data(const unsigned char *bytes,
                                                          int32_t count) {
    if (bytes == nullptr || count < 1 || failed)
        return -1;
    if (discarding_input)
        return 0; // everything after a rejected request is swallowed
    while (count > 0) {
        int32_t used = consume_incoming_bytes(bytes, count);
        if (used < 0)
            return -1;
        if (used == 0) {
            if (discarding_input)
                return 0;
            continue;
        }
        bytes += used;
        count -= used;
    }
    return 1;
}

int32_t qorl_http_data_processor_oline::accumulate_line(const unsigned char *bytes, int32_t count) {
    int32_t i = 0;
    while (i < count) {
        int b = bytes[i];
        bool after_end = previous_byte == '\r' || previous_byte == '\n';
        if (after_end) {
            // The pair CR LF or LF CR ends the line as one; any other byte after a lone
            // CR or LF begins the next line and is left for it.
            if ((previous_byte == '\r' && b == '\n') || (previous_byte == '\n' && b == '\r'))
                ++i;
            line_complete = 1;
            previous_byte = 0;
            return i;
        }
        ++i;
        previous_byte = b;
        if (b != '\r' && b != '\n' && line.length <= fixed_text::capacity - 2)
            line.append_char(char(b));
    }
    return i;
}

// Fires on_content_complete for a finished message, then the close it asked for.
// Returns 1 to go on, 0 when the exchange failed meanwhile, -1 on a refusal.
int qorl_http_data_processor_oline::finish_body_message(int with_close) {
    if (on_content_complete == nullptr || !on_content_complete(this, user_data))
        return fail();
    if (failed)
        return 0;
    if (with_close && close_after_response && !(status_code >= 100 && status_code <= 199)) {
        if (on_close_connection != nullptr)
            on_close_connection(this, user_data);
        close_when_sent = 0;
        close_after_response = 0;
        want_close = 0;
        in_head = 0;
    }
    return 1;
}

int32_t qorl_http_data_processor_oline::consume_incoming_bytes(const unsigned char *bytes,
                                                               int32_t count) {
    if (count <= 0 || failed)
        return -1;
    if (discarding_input)
        return count;

    if (!in_body) {
        int32_t used = accumulate_line(bytes, count);
        if (!line_complete)
            return used;
        if (line.length > 0) {
            ++line_count;
            int answer = header_line_parse(line.text);
            if (answer != 0) {
                if (is_client) {
                    if (answer == 1)
                        return fail();
                } else {
                    if (!send_response_400("Bad Request"))
                        return fail();
                    close_when_sent = 1;
                    discarding_input = 1;
                    return 0;
                }
            }
            line.clear();
            line_complete = 0;
            return used;
        }
        line_complete = 0;
        if (!in_head)
            return used; // blank lines between messages
        // The empty line ends the head.
        ++line_count;
        if (is_client ? status_code <= 0 : status_code > 0)
            return fail();
        const int has_body = message_has_body();
        line.clear();
        previous_byte = 0;
        if (has_body) {
            in_body = 1;
            body_received = 0;
        }
        if (!on_headers_complete())
            return fail();
        if (failed)
            return 0;
        if (has_body) {
            in_head = 0;
            return used;
        }
        int finished = finish_body_message(1);
        if (finished <= 0)
            return finished;
        in_head = 0;
        return used;
    }

    if (chunked_input) {
        if (chunk_state == 2) {
            int32_t take = count < chunk_remaining ? count : chunk_remaining;
            if (on_content_data_received == nullptr ||
                !on_content_data_received(this, user_data, bytes, take))
                return fail();
            if (failed)
                return 0;
            chunk_remaining -= take;
            body_received += take;
            if (chunk_remaining == 0) {
                chunk_state = 3;
                line.clear();
                line_complete = 0;
            }
            return take;
        }
        int32_t used = accumulate_line(bytes, count);
        if (!line_complete)
            return used;
        line_complete = 0;
        // A broken chunk framing fails the exchange for good: were it only refused, the
        // next feed would take whatever follows as chunk data of the same body.
        if (chunk_state != 1) {
            // The empty line that follows chunk data.
            if (line.length != 0)
                return fail();
            chunk_state = 1;
            return used;
        }
        if (line.length == 0)
            return fail();
        int32_t size = 0;
        int read = read_chunk_size(line.text, &size);
        if (read == 0)
            return fail();
        if (read < 0) {
            report3("Warning in qorl_http_data_processor_oline::consume_incoming_bytes(), chunk "
                    "size out of range, line: ",
                    line.text, nullptr, msg_input_format);
            return fail();
        }
        line.clear();
        if (size > 0) {
            chunk_remaining = size;
            chunk_state = 2;
            return used;
        }
        // The last chunk.
        in_head = 0;
        in_body = 0;
        chunk_state = 2;
        int finished = finish_body_message(1);
        return finished <= 0 ? finished : used;
    }

    int32_t take = count;
    if (content_length >= 0 && content_length - body_received < take)
        take = content_length - body_received;
    if (take > 0) {
        if (on_content_data_received == nullptr ||
            !on_content_data_received(this, user_data, bytes, take))
            return fail();
        if (failed)
            return 0;
        body_received += take;
    }
    if (content_length < 0 || body_received < content_length)
        return take;
    in_head = 0;
    in_body = 0;
    int finished = finish_body_message(1);
    return finished <= 0 ? finished : take;
}

int qorl_http_data_processor_oline::try_extract_http_version_number(const char *version) {
    if (version == nullptr || word_prefix_length("HTTP/", version) == 0) {
        report3("Warning in qorl_http_data_processor_oline::try_extract_http_version_number(), "
                "got bad http version '",
                version, "'.", msg_input_format);
        return 20;
    }
    const char *rest = version + 5;
    if (word_equals(rest, "1.0"))
        return 10;
    if (word_equals(rest, "1.1"))
        return 11;
    double v = strtod(rest, nullptr);
    if (v <= 0)
        return 20;
    if (v + 0.000001 < 1)
        return 0;
    return 20;
}

int qorl_http_data_processor_oline::parse_status_line(const char *text) {
    first_line.assign(text);
    copy_word_cut(version_text, text);
    peer_version = try_extract_http_version_number(version_text);
    const char *code = next_arg(text);
    if (code == nullptr)
        return 0;
    int32_t value = 0;
    if (parse_int(code, &value))
        status_code = value;
    const char *reason = next_arg(code);
    if (reason == nullptr || status_code <= 0)
        return 0;
    copy_cut(reason_phrase, reason);
    return 1;
}

int qorl_http_data_processor_oline::parse_request_line(const char *text) {
    first_line.assign(text);
    copy_word_cut(request_method, text);
    const char *target = next_arg(text);
    if (target == nullptr)
        return 0;
    const char *version = next_arg(target);
    if (version == nullptr)
        return 0;

    fixed_text path;
    path.clear();
    const char *p = target;
    while (*p == '/')
        ++p;
    for (; *p != '\0' && !http_fields::is_space(*p) && *p != '?'; ++p)
        path.append_char(*p);
    if (*p == '?') {
        fixed_text query;
        query.clear();
        for (++p; *p != '\0' && !http_fields::is_space(*p); ++p)
            query.append_char(*p);
        if (query.length > 0)
            copy_cut(request_query, query.text);
    }
    const char *scheme_end = strstr(path.text, "://");
    if (scheme_end != nullptr && scheme_end[3] != '\0') {
        const char *host = scheme_end + 3;
        const char *slash = strchr(host, '/');
        char host_text[sizeof request_host];
        size_t n = slash ? size_t(slash - host) : strlen(host);
        if (n >= sizeof host_text)
            n = sizeof host_text - 1;
        memcpy(host_text, host, n);
        host_text[n] = '\0';
        copy_cut(request_host, host_text);
        copy_cut(request_path, slash ? slash + 1 : "");
    } else {
        copy_cut(request_path, path.text);
    }
    copy_word_cut(version_text, version);
    peer_version = try_extract_http_version_number(version_text);
    return 1;
}

// What one message's head told: forgotten when the next message's first line arrives.
void qorl_http_data_processor_oline::clear_message_head() {
    chunked_input = 0;
    chunk_state = 0;
    chunk_remaining = 0;
    expect_continue_received = 0;
    version_text[0] = '\0';
    transfer_encoding[0] = '\0';
    content_type[0] = '\0';
    reason_phrase[0] = '\0';
    request_method[0] = '\0';
    request_host[0] = '\0';
    request_path[0] = '\0';
    request_query[0] = '\0';
    first_line.clear();
    content_type_code = 0;
    status_code = 0;
    peer_version = 20;
    content_length = -1;
}

int qorl_http_data_processor_oline::header_line_parse(const char *text) {
    if (!in_head) {
        clear_message_head();
        line_count = 1;
        in_head = 1;
        if (word_prefix_length("HTTP/", text) > 0) {
            if (parse_status_line(text))
                return 0;
            report3("Warning in qorl_http_data_processor_oline::header_line_parse(), failed to "
                    "parse response line '",
                    text, "'.", msg_input_format);
            return 1;
        }
        return parse_request_line(text) ? 0 : 1;
    }

    const char *value = next_arg(text);
    fixed_text message;
    message.clear();
    message.append(parse_warning);

    if (word_equals(text, "Content-Length:")) {
        int32_t length = 0;
        if (value == nullptr || !parse_int(value, &length) || length < 0) {
            message.append("got bad content length, line: ");
            message.append(text);
            report_message(message.text, msg_input_format, module_http);
            return 1;
        }
        content_length = length;
        return 0;
    }
    if (word_equals(text, "Content-Type:")) {
        if (value == nullptr) {
            message.append("got bad content type line: ");
            message.append(text);
            report_message(message.text, msg_input_format, module_http);
            return 2;
        }
        copy_cut(content_type, value);
        content_type_code = content_type_from_text(content_type);
        return 0;
    }
    if (word_equals(text, "Connection:")) {
        if (value == nullptr) {
            message.append("got bad Connection: line: ");
            message.append(text);
            report_message(message.text, msg_input_format, module_http);
            return 2;
        }
        fixed_text words;
        words.assign(value);
        http_fields::commas_to_spaces(words.text);
        for_each_word(words.text, [&](const char *word) {
            if (word_equals(word, "close")) {
                if (status_code > 0) {
                    close_after_response = 1;
                } else {
                    close_when_sent = 1;
                    want_close = 1;
                }
            } else if (!word_equals(word, "te") && !word_equals(word, "keep-alive")) {
                report3(parse_warning, "got questionable Connection: line: ", text, msg_protocol);
            }
        });
        return 0;
    }
    if (word_equals(text, "Expect:")) {
        bool matched = false;
        if (value != nullptr) {
            for_each_word(value, [&](const char *word) {
                char expectation[400];
                size_t n = 0;
                while (n + 1 < sizeof expectation && word[n] != '\0' && word[n] != ';' &&
                       !http_fields::is_space(word[n])) {
                    expectation[n] = word[n];
                    ++n;
                }
                expectation[n] = '\0';
                if (word_equals(expectation, "100-continue")) {
                    expect_continue_received = 1;
                    matched = true;
                }
            });
        }
        if (matched)
            return 0;
        message.append("got bad Expect: line: ");
        message.append(text);
        report_message(message.text, msg_input_format, module_http);
        return 2;
    }
    if (word_equals(text, "Transfer-Encoding:")) {
        if (value == nullptr) {
            message.append("got bad transfer encoding line: ");
            message.append(text);
            report_message(message.text, msg_input_format, module_http);
            return 2;
        }
        copy_cut(transfer_encoding, value);
        http_fields::commas_to_spaces(transfer_encoding);
        for_each_word(transfer_encoding, [&](const char *word) {
            if (word_equals(word, "chunked")) {
                chunked_input = 1;
                chunk_state = 1;
            }
        });
        return 0;
    }
    if (word_equals(text, "Host:")) {
        if (value == nullptr) {
            report3("Warning in qorl_http_data_processor_oline::header_line_parse(), got empty "
                    "host line '",
                    text, "'.", msg_protocol);
            return 2;
        }
        char host[sizeof request_host];
        copy_cut(host, value);
        if (request_host[0] == '\0' || strcmp(request_host, host) == 0) {
            copy_cut(request_host, host);
            return 0;
        }
        return 2;
    }
    if (word_equals(text, "Cookie:")) {
        parse_cookie_header(value);
        return 0;
    }
    return 0;
}

int qorl_http_data_processor_oline::message_has_body() const {
    if (status_code > 0) {
        if ((status_code >= 100 && status_code <= 199) || status_code == 204 || status_code == 304)
            return 0;
        if (word_equals(sent_method, "HEAD"))
            return 0;
    }
    if (peer_version > 10 && transfer_encoding[0] != '\0') {
        bool identity = false;
        for_each_word(transfer_encoding, [&](const char *word) {
            if (word_equals(word, "identity"))
                identity = true;
        });
        if (!identity)
            return 1;
    }
    if (content_length > 0)
        return 1;
    if (content_length == 0)
        return 0;
    return status_code > 0 ? 1 : 0;
}

int qorl_http_data_processor_oline::on_headers_complete() {
    if (!is_client && peer_version > 10 && !force_http_1_0 &&
        (expect_continue_received || word_equals(request_method, "PUT") ||
         word_equals(request_method, "POST"))) {
        if (!send_response_100())
            return 0;
    }
    if (on_message_received == nullptr)
        return 0;
    return on_message_received(this, user_data);
}

void qorl_http_data_processor_oline::note_connection_closed() {
    if (failed)
        return;
    if (tx_body_remaining == 0 && chunked_output)
        output_queue.add_text("0\r\n");
    // Only a body that is delimited by the close ends here; a chunked body or one with a
    // declared length that stops early is incomplete, and is left so.
    if (in_body && !chunked_input && content_length < 0) {
        in_body = 0;
        in_head = 0;
        if (on_content_complete != nullptr && !on_content_complete(this, user_data))
            failed = 1;
    }
}
