// Fuzz target: the HTTP processor as a server, fed arbitrary requests and answering them.
#include "fuzz/fuzz_support.h"
#include "http/http_processor.h"

#include <string>

namespace {

const char response_body[] = "hello from the fuzzed server\n";

// What one run shows: the requests and body bytes received, the first result other than
// 1, and every byte the server sent.
struct server_run {
    int options = 0;
    int answered = 0;
    size_t body_sent = 0;
    std::string events; // body bytes merged into one " data:" run per body stretch
    bool in_data = false;
    bool closed = false; // the processor asked to close: the owner feeds nothing more
    int result = 1;
    std::string sent;

    void add(const std::string &event) {
        events += " " + event;
        in_data = false;
    }
};

void drain(qorl_http_data_processor_oline &p, server_run &run) {
    unsigned char buffer[4096];
    for (int rounds = 0; rounds < 64; ++rounds) {
        int32_t n = p.fetch_outgoing_data(buffer, sizeof buffer);
        if (n <= 0)
            break;
        run.sent.append(reinterpret_cast<char *>(buffer), size_t(n));
    }
}

int on_complete(qorl_http_data_processor_oline *p, void *u) {
    auto *run = static_cast<server_run *>(u);
    ++run->answered;
    run->body_sent = 0;
    // What a server reads back from the request is terminated text that fits its field.
    FUZZ_CHECK(strlen(p->request_method) < sizeof p->request_method);
    FUZZ_CHECK(strlen(p->request_host) < sizeof p->request_host);
    FUZZ_CHECK(strlen(p->request_path) < sizeof p->request_path);
    FUZZ_CHECK(strlen(p->request_query) < sizeof p->request_query);
    run->add(std::string("complete:") + p->request_method + " /" + p->request_path + "?" +
             p->request_query + " host:" + p->request_host);
    const char *sid = p->received_cookie_value("sid");
    if (sid != nullptr) {
        FUZZ_CHECK(strlen(sid) < 256);
        run->add(std::string("sid:") + sid);
    }
    p->set_cookie("sid", "42", "127.0.0.1", 300, run->options & 4);
    switch (run->answered % 4) {
    case 0:
        return p->send_response_400(nullptr);
    case 1:
        return p->send_response(200, content_type_text_plain, int32_t(sizeof response_body - 1),
                                "OK");
    case 2:
        return p->send_response(200, content_type_text_html, -1, "OK");
    default:
        return p->send_response_301(p->request_path);
    }
}

server_run run_server(uint8_t options, const uint8_t *payload, size_t total, fuzz_pieces *pieces) {
    server_run run;
    run.options = options;
    qorl_http_data_processor_oline p;
    p.user_data = &run;
    p.allow_chunked_output = options & 1 ? 1 : 0;
    p.force_http_1_0 = options & 2 ? 1 : 0;
    if (options & 8)
        p.set_cookie_prefix("dm_");
    p.on_message_received = [](qorl_http_data_processor_oline *proc, void *u) {
        static_cast<server_run *>(u)->add(std::string("request:") + proc->request_method);
        return 1;
    };
    p.on_content_complete = on_complete;
    p.on_content_data_received = [](qorl_http_data_processor_oline *, void *u,
                                    const unsigned char *bytes, int32_t count) {
        FUZZ_CHECK(count > 0);
        auto *run = static_cast<server_run *>(u);
        if (!run->in_data)
            run->events += " data:";
        run->in_data = true;
        run->events.append(reinterpret_cast<const char *>(bytes), size_t(count));
        return 1;
    };
    p.on_close_connection = [](qorl_http_data_processor_oline *, void *u) {
        static_cast<server_run *>(u)->closed = true;
    };
    p.on_content_body_get_tx_data = [](qorl_http_data_processor_oline *, void *u,
                                       unsigned char *buffer, int32_t capacity) {
        auto *run = static_cast<server_run *>(u);
        size_t left = sizeof response_body - 1 - run->body_sent;
        if (left == 0)
            return -1;
        size_t n = left < size_t(capacity) ? left : size_t(capacity);
        memcpy(buffer, response_body + run->body_sent, n);
        run->body_sent += n;
        return int(n);
    };

    for (size_t at = 0; at < total && !run.closed;) {
        size_t n = pieces ? pieces->next(total - at) : total;
        std::vector<uint8_t> piece(payload + at, payload + at + n);
        int result = p.process_incoming_data(piece.data(), int32_t(n));
        FUZZ_CHECK(result >= -1 && result <= 1);
        at += n;
        drain(p, run);
        if (result != 1 && run.result == 1)
            run.result = result;
        if (result < 0) {
            FUZZ_CHECK(p.failed);
            break;
        }
    }
    if ((options & 16) && !run.closed)
        p.note_connection_closed();
    drain(p, run);
    return run;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_quiet_log();
    if (size == 0)
        return 0;
    // Option bits: chunked output allowed, HTTP/1.0 forced, secure cookie, a cookie prefix,
    // a close at the end.
    const uint8_t options = data[0];
    fuzz_pieces pieces(data + 1, size - 1);
    server_run split = run_server(options, pieces.payload(), pieces.payload_size(), &pieces);
    server_run whole = run_server(options, pieces.payload(), pieces.payload_size(), nullptr);
    fuzz_check_split_matches_whole(split, whole);
    return 0;
}
