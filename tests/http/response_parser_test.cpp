// The response parser from byte scripts: every script fed whole and one byte per call
// must give the same events and the same result.
#include "http/http_processor.h"
#include "tests/http/http_test_util.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Writes each event as a word: "head:200", "data:<bytes>" (runs merged), "done", "close".
struct event_log {
    std::string events;
    int deliveries = 0;
    int refuse_data = 0;

    void add(const std::string &e) {
        if (!events.empty())
            events += ' ';
        events += e;
    }
    static int head(qorl_http_data_processor_oline *p, void *u) {
        static_cast<event_log *>(u)->add("head:" + std::to_string(p->status_code));
        return 1;
    }
    static int done(qorl_http_data_processor_oline *, void *u) {
        static_cast<event_log *>(u)->add("done");
        return 1;
    }
    static void close(qorl_http_data_processor_oline *, void *u) {
        static_cast<event_log *>(u)->add("close");
    }
    static int data(qorl_http_data_processor_oline *, void *u, const unsigned char *b, int32_t n) {
        auto *self = static_cast<event_log *>(u);
        ++self->deliveries;
        std::string bytes(reinterpret_cast<const char *>(b), size_t(n));
        size_t last = self->events.rfind(' ');
        std::string tail = self->events.substr(last == std::string::npos ? 0 : last + 1);
        if (tail.rfind("data:", 0) == 0)
            self->events += bytes;
        else
            self->add("data:" + bytes);
        return self->refuse_data ? 0 : 1;
    }
    void attach(qorl_http_data_processor_oline &p) {
        p.user_data = this;
        p.on_message_received = head;
        p.on_content_complete = done;
        p.on_close_connection = close;
        p.on_content_data_received = data;
    }
};

struct script {
    const char *name;
    const char *method; // "GET" or "HEAD"
    int want_close;
    std::string input;
    bool closed_at_end; // the owner reports the end of input afterwards
    int result;         // of the whole feed; the first result other than 1 byte by byte
    const char *events;
    const char *warning; // text the log must show, or null
};

const script scripts[] = {
    {"Content-Length body", "GET", 1, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", false, 1,
     "head:200 data:hello done close", nullptr},
    {"Content-Length body, keep-alive", "GET", 0,
     "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", false, 1, "head:200 data:hello done",
     nullptr},
    {"Content-Length 0", "GET", 1, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", false, 1,
     "head:200 done close", nullptr},
    {"chunked body and its final empty line", "GET", 1,
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", false, 1,
     "head:200 data:hello done close", nullptr},
    {"chunks with extensions, upper-case hex, bare line feeds", "GET", 0,
     "HTTP/1.1 200 OK\nTransfer-Encoding: gzip, chunked\n\n3;name=x\nabc\nA\n0123456789\n0\n\n",
     false, 1, "head:200 data:abc0123456789 done", nullptr},
    {"204 without length completes at the empty line", "GET", 1, "HTTP/1.1 204 No Content\r\n\r\n",
     false, 1, "head:204 done close", nullptr},
    {"304 ignores its length", "GET", 1, "HTTP/1.1 304 Not Modified\r\nContent-Length: 10\r\n\r\n",
     false, 1, "head:304 done close", nullptr},
    {"HEAD response declares a length but has no body", "HEAD", 1,
     "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n", false, 1, "head:200 done close", nullptr},
    {"100 before 200", "GET", 1,
     "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", false, 1,
     "head:100 done head:200 data:ok done close", nullptr},
    {"blank lines before the status line are skipped", "GET", 0,
     "\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx", false, 1, "head:200 data:x done",
     nullptr},
    {"body until the connection closes", "GET", 0, "HTTP/1.0 200 OK\r\n\r\nabc", true, 1,
     "head:200 data:abc done", nullptr},
    {"body until close, not yet closed", "GET", 0, "HTTP/1.0 200 OK\r\n\r\nabc", false, 1,
     "head:200 data:abc", nullptr},
    {"empty body until close", "GET", 0, "HTTP/1.0 200 OK\r\n\r\n", true, 1, "head:200 done",
     nullptr},
    {"declared length cut short by the close stays incomplete", "GET", 0,
     "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc", true, 1, "head:200 data:abc", nullptr},
    {"chunked body cut short by the close stays incomplete", "GET", 0,
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nab", true, 1, "head:200 data:ab",
     nullptr},
    {"Connection: close, Upgrade closes after the response", "GET", 0,
     "HTTP/1.1 200 OK\r\nConnection: close, Upgrade\r\nContent-Length: 1\r\n\r\nx", false, 1,
     "head:200 data:x done close", "got questionable Connection: line: Connection: close, Upgrade"},
    {"Connection: keep-alive is accepted", "GET", 0,
     "HTTP/1.1 200 OK\r\nConnection: Keep-Alive\r\nContent-Length: 0\r\n\r\n", false, 1,
     "head:200 done", nullptr},
    {"status line without reason phrase", "GET", 1, "HTTP/1.1 200\r\n\r\n", false, -1, "",
     "failed to parse response line 'HTTP/1.1 200'."},
    {"status line with a word for a code", "GET", 1, "HTTP/1.1 OK fine\r\n\r\n", false, -1, "",
     "failed to parse response line"},
    {"not HTTP at all", "GET", 1, "SSH-2.0-OpenSSH_9.2\r\n\r\n", false, -1, "", nullptr},
    {"a request line where a response belongs", "GET", 1, "GET / HTTP/1.1\r\n\r\n", false, -1, "",
     nullptr},
    {"negative Content-Length", "GET", 1, "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n", false,
     -1, "", "got bad content length, line: Content-Length: -1"},
    {"Content-Length that is no number", "GET", 1, "HTTP/1.1 200 OK\r\nContent-Length: ten\r\n\r\n",
     false, -1, "", "got bad content length"},
    {"Content-Length without value", "GET", 1, "HTTP/1.1 200 OK\r\nContent-Length:\r\n\r\n", false,
     -1, "", "got bad content length"},
    {"bad Content-Type only warns", "GET", 0,
     "HTTP/1.1 200 OK\r\nContent-Type:\r\nContent-Length: 1\r\n\r\nz", false, 1,
     "head:200 data:z done", "got bad content type line: Content-Type:"},
    {"chunk size that is no number", "GET", 0,
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", false, -1, "head:200", nullptr},
    {"empty chunk-size line", "GET", 0, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n\r\n",
     false, -1, "head:200", nullptr},
    {"chunk size beyond 2147483647", "GET", 0,
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n80000000\r\n", false, -1, "head:200",
     "chunk size out of range, line: 80000000"},
    {"chunk size of 20 digits", "GET", 0,
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nffffffffffffffffffff\r\n", false, -1,
     "head:200", "chunk size out of range"},
    {"negative chunk size", "GET", 0, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n-5\r\n",
     false, -1, "head:200", "chunk size out of range"},
    {"chunk data not followed by its line end", "GET", 0,
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nabX\r\n", false, -1,
     "head:200 data:ab", nullptr},
};

struct outcome {
    int result;
    std::string events;
};

// log receives the events; it outlives the call so that later feeds can be watched too.
outcome run_script(const script &s, bool byte_by_byte, qorl_http_data_processor_oline &p,
                   event_log &log) {
    log.attach(p);
    p.want_close = s.want_close;
    std::string m = s.method;
    EXPECT_EQ(m == "HEAD" ? p.start_http_HEAD("h", "/") : p.start_http_GET("h", "/"), 1);
    drain(p);
    const auto *bytes = reinterpret_cast<const unsigned char *>(s.input.data());
    int result = 1;
    if (byte_by_byte) {
        for (size_t i = 0; i < s.input.size() && result == 1; ++i)
            result = p.process_incoming_data(bytes + i, 1);
    } else {
        result = p.process_incoming_data(bytes, int32_t(s.input.size()));
    }
    if (s.closed_at_end)
        p.note_connection_closed();
    return {result, log.events};
}

TEST(ResponseParser, ScriptsWholeAndByteByByte) {
    for (const script &s : scripts) {
        SCOPED_TRACE(s.name);
        for (bool split : {false, true}) {
            SCOPED_TRACE(split ? "one byte per call" : "whole");
            log_capture log;
            qorl_http_data_processor_oline p;
            event_log events;
            outcome o = run_script(s, split, p, events);
            EXPECT_EQ(o.result, s.result);
            EXPECT_EQ(o.events, s.events);
            if (s.warning != nullptr) {
                EXPECT_EQ(log.count(s.warning), 1) << log.text();
            }
            if (s.result < 0) {
                // A failed or broken exchange accepts no further input, neither what would
                // continue a chunked body nor a new response.
                unsigned char chunks[] = "5\r\nhello\r\n0\r\n\r\n";
                EXPECT_EQ(p.process_incoming_data(chunks, sizeof chunks - 1), -1);
                unsigned char more[] = "HTTP/1.1 200 OK\r\n\r\n";
                EXPECT_EQ(p.process_incoming_data(more, sizeof more - 1), -1);
                EXPECT_EQ(events.events, s.events);
            }
        }
    }
}

TEST(ResponseParser, OneDeliveryPerRunOfTheBuffer) {
    qorl_http_data_processor_oline p;
    event_log log;
    log.attach(p);
    p.want_close = 1;
    ASSERT_EQ(p.start_http_GET("h", "/"), 1);
    drain(p);
    std::string r = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhelloEXTRA";
    // The body ends within the feed: exactly its five bytes are delivered, at once.
    EXPECT_EQ(p.process_incoming_data(reinterpret_cast<const unsigned char *>(r.data()),
                                      int32_t(r.size())),
              1);
    EXPECT_EQ(log.deliveries, 1);
    EXPECT_EQ(log.events, "head:200 data:hello done close");
    EXPECT_EQ(p.status_code, 200);
    EXPECT_EQ(p.content_length, 5);
    EXPECT_STREQ(p.reason_phrase, "OK");
    EXPECT_EQ(p.peer_version, 11);
}

TEST(ResponseParser, RefusedDataFailsTheExchange) {
    qorl_http_data_processor_oline p;
    event_log log;
    log.attach(p);
    log.refuse_data = 1;
    ASSERT_EQ(p.start_http_GET("h", "/"), 1);
    drain(p);
    std::string r = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello";
    EXPECT_EQ(p.process_incoming_data(reinterpret_cast<const unsigned char *>(r.data()),
                                      int32_t(r.size())),
              -1);
    EXPECT_EQ(p.failed, 1);
    EXPECT_EQ(log.events, "head:200 data:hello");
}

TEST(ResponseParser, OverlongLinesAreCutAt5999) {
    for (bool split : {false, true}) {
        SCOPED_TRACE(split ? "one byte per call" : "whole");
        qorl_http_data_processor_oline p;
        event_log log;
        log.attach(p);
        ASSERT_EQ(p.start_http_GET("h", "/"), 1);
        drain(p);
        std::string r = "HTTP/1.1 200 " + std::string(7000, 'r') +
                        "\r\nX-Junk: " + std::string(9000, 'j') + "\r\nContent-Length: 2\r\n\r\nok";
        const auto *b = reinterpret_cast<const unsigned char *>(r.data());
        int result = 1;
        if (split)
            for (size_t i = 0; i < r.size() && result == 1; ++i)
                result = p.process_incoming_data(b + i, 1);
        else
            result = p.process_incoming_data(b, int32_t(r.size()));
        EXPECT_EQ(result, 1);
        EXPECT_EQ(p.first_line.length, 5999);
        EXPECT_EQ(std::string(p.reason_phrase), std::string(255, 'r'));
        EXPECT_EQ(log.events, "head:200 data:ok done");
    }
}

TEST(ResponseParser, VersionNumbers) {
    log_capture log;
    struct row {
        const char *text;
        int version;
    };
    const row rows[] = {{"HTTP/1.0", 10}, {"HTTP/1.1", 11}, {"http/1.1", 11},
                        {"HTTP/0.9", 0},  {"HTTP/2", 20},   {"HTTP/1.2", 20},
                        {"HTTP/", 20},    {"HTTP/x", 20},   {"FTP/1.0", 20}};
    for (const row &r : rows)
        EXPECT_EQ(qorl_http_data_processor_oline::try_extract_http_version_number(r.text),
                  r.version)
            << r.text;
    EXPECT_EQ(log.count("got bad http version 'FTP/1.0'."), 1);
}

} // namespace
