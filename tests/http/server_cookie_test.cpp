// The processor as a server: request parsing, response heads, rejections, and cookies.
#include "http/http_processor.h"
#include "tests/http/http_test_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

namespace {

// A server processor that records each request and answers from a test's handler.
struct server_fixture {
    qorl_http_data_processor_oline p;
    std::string events;
    std::string body_in;
    std::string body_out;
    size_t body_sent = 0;
    int closes = 0;

    server_fixture() {
        p.user_data = this;
        p.on_message_received = [](qorl_http_data_processor_oline *proc, void *u) {
            auto *self = static_cast<server_fixture *>(u);
            self->events += std::string("request:") + proc->request_method + " ";
            return 1;
        };
        p.on_content_data_received = [](qorl_http_data_processor_oline *, void *u,
                                        const unsigned char *b, int32_t n) {
            static_cast<server_fixture *>(u)->body_in.append(reinterpret_cast<const char *>(b),
                                                             size_t(n));
            return 1;
        };
        p.on_content_complete = [](qorl_http_data_processor_oline *, void *u) {
            static_cast<server_fixture *>(u)->events += "complete ";
            return 1;
        };
        p.on_close_connection = [](qorl_http_data_processor_oline *, void *u) {
            ++static_cast<server_fixture *>(u)->closes;
        };
        p.on_content_body_get_tx_data = [](qorl_http_data_processor_oline *, void *u,
                                           unsigned char *buffer, int32_t capacity) {
            auto *self = static_cast<server_fixture *>(u);
            size_t left = self->body_out.size() - self->body_sent;
            if (left == 0)
                return -1;
            size_t n = left < size_t(capacity) ? left : size_t(capacity);
            memcpy(buffer, self->body_out.data() + self->body_sent, n);
            self->body_sent += n;
            return int(n);
        };
    }
    int feed(const std::string &bytes) {
        return p.process_incoming_data(reinterpret_cast<const unsigned char *>(bytes.data()),
                                       int32_t(bytes.size()));
    }
};

TEST(ServerSide, ParsesRequestLines) {
    struct row {
        const char *request;
        const char *method, *host, *path, *query;
        int version;
    };
    const row rows[] = {
        {"GET /a/b?x=1&y=2 HTTP/1.1\r\nHost: example\r\n\r\n", "GET", "example", "a/b", "x=1&y=2",
         11},
        {"GET //index.html? HTTP/1.0\r\n\r\n", "GET", "", "index.html", "", 10},
        {"HEAD http://other.example/p/q HTTP/1.1\r\n\r\n", "HEAD", "other.example", "p/q", "", 11},
        {"GET http://other.example HTTP/1.1\r\n\r\n", "GET", "other.example", "", "", 11},
        {"GET / HTTP/1.1\r\nHost: a\r\nHost: a\r\n\r\n", "GET", "a", "", "", 11},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.request);
        server_fixture s;
        EXPECT_EQ(s.feed(r.request), 1);
        EXPECT_EQ(s.events, std::string("request:") + r.method + " complete ");
        EXPECT_STREQ(s.p.request_host, r.host);
        EXPECT_STREQ(s.p.request_path, r.path);
        EXPECT_STREQ(s.p.request_query, r.query);
        EXPECT_EQ(s.p.peer_version, r.version);
        EXPECT_EQ(drain(s.p), "");
    }
}

TEST(ServerSide, ResponseHeads) {
    struct row {
        const char *name;
        std::function<int(qorl_http_data_processor_oline &)> send;
        std::string bytes;
    };
    const row rows[] = {
        {"400 with empty reason", [](auto &p) { return p.send_response_400(""); },
         "HTTP/1.1 400 Bad request\r\nContent-Length: 0\r\n\r\n"},
        {"400 with reason", [](auto &p) { return p.send_response_400("Nope"); },
         "HTTP/1.1 400 Nope\r\nContent-Length: 0\r\n\r\n"},
        {"413", [](auto &p) { return p.send_response_413(nullptr); },
         "HTTP/1.1 413 Content Body Too Large\r\nContent-Length: 0\r\n\r\n"},
        {"415", [](auto &p) { return p.send_response_415(""); },
         "HTTP/1.1 415 Content Body in Unsupported Format\r\nContent-Length: 0\r\n\r\n"},
        {"501", [](auto &p) { return p.send_response_501(); },
         "HTTP/1.1 501 Unimplemented\r\nContent-Length: 0\r\n\r\n"},
        {"100", [](auto &p) { return p.send_response_100(); },
         "HTTP/1.1 100 continue\r\nContent-Length: 0\r\n\r\n"},
        {"301", [](auto &p) { return p.send_response_301("/new"); },
         "HTTP/1.1 301 Moved Permanently\r\nLocation: /new\r\nContent-Length: 0\r\n\r\n"},
        {"200 with body and cookies",
         [](auto &p) {
             p.set_cookie("sid", "42", "D", 300, 1);
             p.set_cookie("lang", "fi", "", 60, 0);
             return p.send_response(200, content_type_text_html, 12, "OK");
         },
         "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: 12\r\n"
         "Set-Cookie: lang=fi; Domain=; Path=/; Max-Age=60; HttpOnly\r\n"
         "Set-Cookie: sid=42; Domain=D; Path=/; Max-Age=300; HttpOnly; Secure\r\n\r\n"
         "hello, world"},
        {"cookie prefix and an expired cookie",
         [](auto &p) {
             p.set_cookie_prefix("dm_");
             p.set_cookie("sid", "42", "D", 300, 1);
             p.expire_cookie("SID", "D");
             return p.send_response(200, content_type_text_plain, 0, "OK");
         },
         "HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: 0\r\n"
         "Set-Cookie: dm_sid=; Domain=D; Path=/; Max-Age=0; HttpOnly\r\n\r\n"},
        {"undeclared length closes the connection",
         [](auto &p) { return p.send_response(200, content_type_json, -1, nullptr); },
         "HTTP/1.1 200 (null)\r\nContent-Type: application/json; charset=utf-8\r\n"
         "Connection: close\r\n\r\nhello, world"},
        {"HTTP/1.0 forced",
         [](auto &p) {
             p.force_http_1_0 = 1;
             return p.send_response(404, content_type_text_plain, 12, "Not Found");
         },
         "HTTP/1.0 404 Not Found\r\nContent-Type: text/plain; charset=utf-8\r\n"
         "Content-Length: 12\r\nConnection: close\r\n\r\nhello, world"},
        {"chunked to an HTTP/1.1 peer",
         [](auto &p) {
             p.allow_chunked_output = 1;
             return p.send_response(200, content_type_text_plain, 12, "OK");
         },
         "HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\n"
         "Transfer-Encoding: chunked\r\n\r\nc\r\nhello, world\r\n0\r\n"},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.name);
        server_fixture s;
        s.body_out = "hello, world";
        EXPECT_EQ(r.send(s.p), 1);
        EXPECT_EQ(drain(s.p), r.bytes);
    }
}

TEST(ServerSide, ConnectionCloseIsHonouredAfterTheResponseIsSent) {
    server_fixture s;
    ASSERT_EQ(s.feed("GET / HTTP/1.0\r\n\r\n"), 1);
    s.body_out = "hi";
    ASSERT_EQ(s.p.send_response(200, content_type_text_plain, 2, "OK"), 1);
    std::string out = drain(s.p);
    EXPECT_NE(out.find("Connection: close\r\n"), std::string::npos);
    EXPECT_EQ(s.closes, 1);
}

TEST(ServerSide, HeadRequestGetsTheLengthWithoutBody) {
    server_fixture s;
    ASSERT_EQ(s.feed("HEAD /x HTTP/1.1\r\nHost: h\r\n\r\n"), 1);
    s.body_out = "hello, world";
    ASSERT_EQ(s.p.send_response(200, content_type_text_plain, 12, "OK"), 1);
    EXPECT_EQ(drain(s.p), "HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\n"
                          "Content-Length: 12\r\n\r\n");
    EXPECT_EQ(s.body_sent, 0u);
}

TEST(ServerSide, PostGetsA100ThenItsBody) {
    for (const char *request :
         {"POST /up HTTP/1.1\r\nContent-Length: 4\r\n\r\ndata",
          "PUT /up HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n4\r\ndata\r\n0\r\n\r\n"}) {
        SCOPED_TRACE(request);
        server_fixture s;
        EXPECT_EQ(s.feed(request), 1);
        EXPECT_EQ(s.body_in, "data");
        EXPECT_EQ(drain(s.p), "HTTP/1.1 100 continue\r\nContent-Length: 0\r\n\r\n");
    }
    // An HTTP/1.0 client and a GET without Expect get no interim response.
    server_fixture old_client;
    EXPECT_EQ(old_client.feed("POST /up HTTP/1.0\r\nContent-Length: 1\r\n\r\nx"), 1);
    EXPECT_EQ(drain(old_client.p), "");
    server_fixture expecting;
    EXPECT_EQ(expecting.feed("GET / HTTP/1.1\r\nExpect: 100-continue;x=1\r\n\r\n"), 1);
    EXPECT_EQ(expecting.p.expect_continue_received, 1);
    EXPECT_EQ(drain(expecting.p), "HTTP/1.1 100 continue\r\nContent-Length: 0\r\n\r\n");
}

TEST(ServerSide, BadRequestsGet400AndTheRestIsDiscarded) {
    const char *requests[] = {
        "GET /only-two-words\r\n\r\n",
        "GET / HTTP/1.1\r\nContent-Length: -3\r\n\r\n",
        "GET / HTTP/1.1\r\nExpect: something\r\n\r\n",
        "GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n",
        "GET / HTTP/1.1\r\nConnection:\r\n\r\n",
    };
    for (const char *request : requests) {
        SCOPED_TRACE(request);
        server_fixture s;
        EXPECT_EQ(s.feed(request), 0);
        EXPECT_EQ(s.feed("more bytes"), 0);
        EXPECT_EQ(s.events, "");
        EXPECT_EQ(drain(s.p), "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
        EXPECT_EQ(s.closes, 1);
        EXPECT_EQ(s.p.failed, 1);
        unsigned char b[8];
        EXPECT_EQ(s.p.fetch_outgoing_data(b, sizeof b), -1);
    }
}

TEST(ServerSide, ResponsesAreRefusedWhileABodyIsUnfinished) {
    log_capture log;
    server_fixture s;
    s.p.on_content_body_get_tx_data = [](qorl_http_data_processor_oline *, void *, unsigned char *,
                                         int32_t) { return 0; };
    ASSERT_EQ(s.p.send_response(200, content_type_text_plain, 5, "OK"), 1);
    EXPECT_EQ(s.p.send_response_501(), 0);
    EXPECT_TRUE(log.contains("attempt to 'send_response_501' without completing previous "
                             "message."));
}

TEST(Cookies, HeaderParsingWithAndWithoutPrefix) {
    struct row {
        const char *prefix;
        const char *header;
        int count;
        const char *key, *value; // one cookie that must be there
    };
    const row rows[] = {
        {"P", "Pid=7; other=1", 1, "id", "7"}, {"", "a=1; b=x=y", 2, "b", "x=y"},
        {"", "  ; a=1", 1, "a", "1"},          {"", "v=two words", 2, "words", ""},
        {"", "", 0, nullptr, nullptr},         {"dm_", "DM_sid=9", 1, "sid", "9"},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.header);
        qorl_http_data_processor_oline p;
        ASSERT_EQ(p.set_cookie_prefix(r.prefix), 1);
        EXPECT_EQ(p.parse_cookie_header(r.header), r.count);
        if (r.key != nullptr) {
            EXPECT_STREQ(p.received_cookie_value(r.key), r.value);
        }
    }
    qorl_http_data_processor_oline p;
    EXPECT_EQ(p.parse_cookie_header(nullptr), 0);
    p.set_cookie_prefix("P");
    EXPECT_EQ(p.parse_cookie_header("Pid=7; other=1"), 1);
    EXPECT_EQ(p.received_cookie_value("other"), nullptr);
    // The Cookie header of a request goes the same way.
    server_fixture s;
    ASSERT_EQ(s.feed("GET / HTTP/1.1\r\nCookie: sid=1; theme=dark\r\n\r\n"), 1);
    EXPECT_STREQ(s.p.received_cookie_value("THEME"), "dark");
    s.p.remove_received_cookie("theme");
    EXPECT_EQ(s.p.received_cookie_value("theme"), nullptr);
    EXPECT_STREQ(s.p.received_cookie_value("sid"), "1");
}

TEST(Cookies, ListsAndLimits) {
    log_capture log;
    qorl_http_data_processor_oline p;
    p.set_cookie("Session", "1", "d", 10, 1);
    p.set_cookie("SESSION", "2", "d", 20, 0);
    EXPECT_STREQ(p.cookie_to_set_value("session"), "2");
    ASSERT_NE(p.cookies_to_set, nullptr);
    EXPECT_EQ(p.cookies_to_set->next, nullptr);
    EXPECT_STREQ(p.cookies_to_set->key, "Session");
    EXPECT_EQ(p.cookies_to_set->max_age, 20);

    ASSERT_EQ(p.set_cookie_prefix("keep"), 1);
    EXPECT_EQ(p.set_cookie_prefix(std::string(32, 'x').c_str()), 0);
    EXPECT_STREQ(p.cookie_prefix, "keep");
    EXPECT_TRUE(log.contains("Error in qorl_http_cookie::set_cookie_prefix() - incoming string '" +
                             std::string(32, 'x') + "' too long."));
    EXPECT_EQ(p.set_cookie_prefix(std::string(31, 'x').c_str()), 1);

    qorl_http_cookie c;
    EXPECT_EQ(c.secure, 1);
    EXPECT_EQ(c.max_age, 300);
    EXPECT_EQ(c.set_value(std::string(255, 'v').c_str()), 1);
    EXPECT_EQ(c.set_value(std::string(256, 'w').c_str()), 0);
    EXPECT_EQ(std::string(c.value), std::string(255, 'v'));
    EXPECT_EQ(c.set_domain(std::string(64, 'd').c_str()), 0);
    EXPECT_TRUE(log.contains("Error in qorl_http_cookie::set_domain() - incoming string '"));

    // A key too long leaves a cookie with an empty key in the list.
    p.add_received_cookie(std::string(64, 'k').c_str(), "v");
    EXPECT_STREQ(p.received_cookie_value(""), "v");
    EXPECT_TRUE(log.contains("Error in qorl_http_cookie::set_key() - incoming string '"));
}

} // namespace
