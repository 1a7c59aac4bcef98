// Fuzz target: the HTTP processor as a client, fed arbitrary responses in arbitrary pieces.
#include "fuzz/fuzz_support.h"
#include "http/http_processor.h"

#include <string>

namespace {

// What one run shows: the events in order ("head:200", body bytes merged into one "data:"
// run, "done"), the first result other than 1 and everything sent.
struct client_run {
    std::string events;
    int result = 1;
    int refuse_data = 0;
    std::string sent;

    bool in_data = false; // the last event is a data run that later bytes extend
    bool closed = false;  // the processor asked to close: the owner feeds nothing more
    int64_t body = 0;     // body bytes of the current message

    void add(const std::string &event) {
        if (!events.empty())
            events += ' ';
        events += event;
        in_data = false;
    }
};

void drain(qorl_http_data_processor_oline &p, client_run &run) {
    unsigned char buffer[4096];
    for (int rounds = 0; rounds < 64; ++rounds) {
        int32_t n = p.fetch_outgoing_data(buffer, sizeof buffer);
        if (n <= 0)
            break;
        run.sent.append(reinterpret_cast<char *>(buffer), size_t(n));
    }
}

// Feeds payload whole (pieces null) or in the pieces' sizes, each piece in an allocation of
// its own so that reading past it is caught.
client_run run_client(uint8_t options, const uint8_t *payload, size_t total, fuzz_pieces *pieces) {
    client_run run;
    run.refuse_data = options & 8 ? 1 : 0;
    qorl_http_data_processor_oline p;
    p.user_data = &run;
    p.want_close = options & 2 ? 1 : 0;
    p.force_http_1_0 = options & 4 ? 1 : 0;
    p.on_message_received = [](qorl_http_data_processor_oline *proc, void *u) {
        static_cast<client_run *>(u)->add("head:" + std::to_string(proc->status_code));
        static_cast<client_run *>(u)->body = 0;
        return 1;
    };
    p.on_content_complete = [](qorl_http_data_processor_oline *proc, void *u) {
        auto *r = static_cast<client_run *>(u);
        // A body with a declared length is complete with exactly that many bytes.
        if (!proc->chunked_input && proc->content_length >= 0 && r->body > 0)
            FUZZ_CHECK(r->body == proc->content_length);
        r->add("done");
        return 1;
    };
    p.on_close_connection = [](qorl_http_data_processor_oline *, void *u) {
        static_cast<client_run *>(u)->closed = true;
    };
    p.on_content_data_received = [](qorl_http_data_processor_oline *proc, void *u,
                                    const unsigned char *bytes, int32_t count) {
        auto *r = static_cast<client_run *>(u);
        FUZZ_CHECK(count > 0);
        r->body += count;
        if (!proc->chunked_input && proc->content_length >= 0)
            FUZZ_CHECK(r->body <= proc->content_length);
        if (r->refuse_data) {
            // The first run is refused, and its size depends on the pieces.
            r->add("refused");
            return 0;
        }
        if (!r->in_data)
            r->add("data:");
        r->in_data = true;
        r->events.append(reinterpret_cast<const char *>(bytes), size_t(count));
        return 1;
    };
    int started = options & 1 ? p.start_http_HEAD("updates.duskmere.example", "/a b/c?d")
                              : p.start_http_GET("updates.duskmere.example", "/downloads/x.gz");
    FUZZ_CHECK(started == 1);
    drain(p, run);

    for (size_t at = 0; at < total && !run.closed;) {
        size_t n = pieces ? pieces->next(total - at) : total;
        std::vector<uint8_t> piece(payload + at, payload + at + n);
        int result = p.process_incoming_data(piece.data(), int32_t(n));
        FUZZ_CHECK(result >= -1 && result <= 1);
        at += n;
        if (result != 1) {
            run.result = result;
            if (result < 0) {
                // A broken exchange stays broken (marked failed): no later bytes are taken.
                FUZZ_CHECK(p.failed);
                static const unsigned char more[] = "5\r\nhello\r\nHTTP/1.1 200 OK\r\n\r\n";
                FUZZ_CHECK(p.process_incoming_data(more, sizeof more - 1) == -1);
            }
            break;
        }
        drain(p, run);
    }
    if ((options & 16) && !run.closed)
        p.note_connection_closed();
    drain(p, run);
    FUZZ_CHECK(p.content_length >= -1);
    FUZZ_CHECK(p.line.length >= 0 && p.line.length <= fixed_text::capacity - 1);
    return run;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_quiet_log();
    if (size == 0)
        return 0;
    // Option bits: HEAD instead of GET, ask to close, HTTP/1.0, refuse data, end with a close.
    const uint8_t options = data[0];
    fuzz_pieces pieces(data + 1, size - 1);
    client_run split = run_client(options, pieces.payload(), pieces.payload_size(), &pieces);
    client_run whole = run_client(options, pieces.payload(), pieces.payload_size(), nullptr);
    fuzz_check_split_matches_whole(split, whole);
    return 0;
}
