// HTTP processor, server side: response heads, Set-Cookie lines and the cookie lists.
#include "http/http_processor.h"

#include "client/debug_log.h"
#include "http/http_fields.h"
#include "util/string_utils.h"

#include <cstdio>
#include <cstring>

using http_fields::copy_cut;

namespace {

// Stores text (null means empty) in a field when it fits; reports and keeps the field
// as it was otherwise.
template <size_t N> int set_checked(char (&field)[N], const char *text, const char *operation) {
    if (text == nullptr)
        text = "";
    if (strlen(text) >= N) {
        fixed_text message;
        message.clear();
        message.append("Error in qorl_http_cookie::");
        message.append(operation);
        message.append("() - incoming string '");
        message.append(text);
        message.append("' too long.");
        report_message(message.text, msg_runtime, module_http);
        return 0;
    }
    copy_cut(field, text);
    return 1;
}

qorl_http_cookie *find_cookie(qorl_http_cookie *list, const char *key) {
    for (qorl_http_cookie *c = list; c != nullptr; c = c->next)
        if (word_equals(c->key, key != nullptr ? key : ""))
            return c;
    return nullptr;
}

} // namespace

qorl_http_cookie::qorl_http_cookie() : next(nullptr), secure(1), max_age(300) {
    key[0] = '\0';
    domain[0] = '\0';
    value[0] = '\0';
}

int qorl_http_cookie::set_key(const char *text) {
    return set_checked(key, text, "set_key");
}
int qorl_http_cookie::set_domain(const char *text) {
    return set_checked(domain, text, "set_domain");
}
int qorl_http_cookie::set_value(const char *text) {
    return set_checked(value, text, "set_value");
}

int qorl_http_data_processor_oline::send_simple_response(const char *operation,
                                                         const char *status_line,
                                                         const char *extra_line) {
    if (message_in_progress(operation))
        return 0;
    const int saved_chunked = chunked_output, saved_close = close_when_sent;
    fixed_text head;
    head.clear();
    head.append(http_version_name());
    head.append(status_line);
    head.append("\r\n");
    if (extra_line != nullptr) {
        head.append(extra_line);
        head.append("\r\n");
    }
    append_common_headers(head, 0, 0);
    head.append("\r\n");
    if (!queue_head(head, operation)) {
        chunked_output = saved_chunked;
        close_when_sent = saved_close;
        return 0;
    }
    return 1;
}

int qorl_http_data_processor_oline::send_response(int code, int type_code, int32_t length,
                                                  const char *reason) {
    if (message_in_progress("send_response"))
        return 0;
    const int saved_chunked = chunked_output, saved_close = close_when_sent;
    fixed_text head;
    head.clear();
    head.append(http_version_name());
    char status[24];
    snprintf(status, sizeof status, " %d ", code);
    head.append(status);
    head.append(reason);
    head.append("\r\nContent-Type: ");
    head.append(content_type_name(type_code));
    head.append("; charset=utf-8\r\n");
    append_common_headers(head, 0, length);
    append_set_cookie_headers(head);
    head.append("\r\n");
    if (!queue_head(head, "send_response")) {
        chunked_output = saved_chunked;
        close_when_sent = saved_close;
        return 0;
    }
    tx_body_remaining = word_equals(request_method, "HEAD") ? 0 : length;
    return fill_content_body();
}

int qorl_http_data_processor_oline::send_response_301(const char *location) {
    fixed_text line_text;
    line_text.assign("Location: ");
    line_text.append(location);
    return send_simple_response("send_response_301", " 301 Moved Permanently", line_text.text);
}

int qorl_http_data_processor_oline::send_response_400(const char *reason) {
    fixed_text status;
    status.assign(" 400 ");
    status.append(reason != nullptr && reason[0] != '\0' ? reason : "Bad request");
    return send_simple_response("send_response_400", status.text, nullptr);
}

int qorl_http_data_processor_oline::send_response_413(const char *reason) {
    fixed_text status;
    status.assign(" 413 ");
    status.append(reason != nullptr && reason[0] != '\0' ? reason : "Content Body Too Large");
    return send_simple_response("send_response_413", status.text, nullptr);
}

int qorl_http_data_processor_oline::send_response_415(const char *reason) {
    fixed_text status;
    status.assign(" 415 ");
    status.append(reason != nullptr && reason[0] != '\0' ? reason
                                                         : "Content Body in Unsupported Format");
    return send_simple_response("send_response_415", status.text, nullptr);
}

int qorl_http_data_processor_oline::send_response_501() {
    return send_simple_response("send_response_501", " 501 Unimplemented", nullptr);
}

int qorl_http_data_processor_oline::send_response_100() {
    return send_simple_response("send_response_100", " 100 continue", nullptr);
}

void qorl_http_data_processor_oline::append_set_cookie_headers(fixed_text &head) {
    for (qorl_http_cookie *c = cookies_to_set; c != nullptr; c = c->next) {
        fixed_text cookie_line;
        cookie_line.assign("Set-Cookie: ");
        cookie_line.append(cookie_prefix);
        cookie_line.append(c->key);
        cookie_line.append("=");
        cookie_line.append(c->value);
        cookie_line.append("; Domain=");
        cookie_line.append(c->domain);
        cookie_line.append("; Path=/;");
        char age[40];
        snprintf(age, sizeof age, " Max-Age=%d;", int(c->max_age));
        cookie_line.append(age);
        cookie_line.append(" HttpOnly");
        if (c->secure)
            cookie_line.append("; Secure");
        cookie_line.append("\r\n");
        head.append(cookie_line.text);
    }
}

qorl_http_cookie *
qorl_http_data_processor_oline::add_or_update_cookie(qorl_http_cookie **list, const char *key,
                                                     const char *value, const char *domain,
                                                     int32_t max_age, int secure) {
    qorl_http_cookie *cookie = find_cookie(*list, key);
    if (cookie == nullptr) {
        cookie = new qorl_http_cookie;
        cookie->next = *list;
        *list = cookie;
        cookie->set_key(key);
    }
    cookie->set_value(value);
    cookie->set_domain(domain);
    cookie->secure = secure;
    cookie->max_age = max_age;
    return cookie;
}

int qorl_http_data_processor_oline::set_cookie_prefix(const char *prefix) {
    if (prefix == nullptr)
        prefix = "";
    if (strlen(prefix) >= sizeof cookie_prefix) {
        http_fields::report3("Error in qorl_http_cookie::set_cookie_prefix() - incoming string '",
                             prefix, "' too long.", msg_runtime);
        return 0;
    }
    copy_cut(cookie_prefix, prefix);
    return 1;
}

void qorl_http_data_processor_oline::set_cookie(const char *key, const char *value,
                                                const char *domain, int32_t max_age, int secure) {
    add_or_update_cookie(&cookies_to_set, key, value, domain, max_age, secure);
}

void qorl_http_data_processor_oline::expire_cookie(const char *key, const char *domain) {
    add_or_update_cookie(&cookies_to_set, key, "", domain, 0, 0);
}

void qorl_http_data_processor_oline::add_received_cookie(const char *key, const char *value) {
    add_or_update_cookie(&received_cookies, key, value, "", 0, 0);
}

const char *qorl_http_data_processor_oline::received_cookie_value(const char *key) const {
    qorl_http_cookie *c = find_cookie(received_cookies, key);
    return c != nullptr ? c->value : nullptr;
}

const char *qorl_http_data_processor_oline::cookie_to_set_value(const char *key) const {
    qorl_http_cookie *c = find_cookie(cookies_to_set, key);
    return c != nullptr ? c->value : nullptr;
}

void qorl_http_data_processor_oline::remove_received_cookie(const char *key) {
    for (qorl_http_cookie **link = &received_cookies; *link != nullptr; link = &(*link)->next) {
        if (word_equals((*link)->key, key != nullptr ? key : "")) {
            qorl_http_cookie *gone = *link;
            *link = gone->next;
            delete gone;
            return;
        }
    }
}

int qorl_http_data_processor_oline::parse_cookie_header(const char *value) {
    if (value == nullptr || value[0] == '\0')
        return 0;
    const size_t prefix_length = strlen(cookie_prefix);
    int count = 0;
    const char *p = value;
    while (*p != '\0') {
        fixed_text name, cookie_value;
        name.clear();
        cookie_value.clear();
        bool have_pair = *p != ';' && *p != ' ';
        if (have_pair) {
            bool in_value = false;
            for (; *p != '\0' && *p != ';' && *p != ' '; ++p) {
                if (!in_value && *p == '=')
                    in_value = true;
                else
                    (in_value ? cookie_value : name).append_char(*p);
            }
        }
        while (*p == ' ' || *p == ';')
            ++p;
        // Separators alone carry no pair: nothing is added for them.
        if (!have_pair)
            continue;
        if (prefix_length == 0 || word_prefix_length(cookie_prefix, name.text) > 0) {
            add_or_update_cookie(&received_cookies, name.text + prefix_length, cookie_value.text,
                                 "", 0, 0);
            ++count;
        }
    }
    return count;
}
