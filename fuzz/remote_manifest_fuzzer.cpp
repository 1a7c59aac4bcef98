// Fuzz target: the server's manifest as it arrives, compressed or not, in arbitrary pieces.
#include "fuzz/fuzz_support.h"
#include "updater/remote_manifest.h"

#include <zlib.h>

#include <string>
#include <vector>

namespace {

// What the list must hold for a text: its lines parsed one by one (each cut at 5999
// characters, a last line without a line feed included); -1 when a line is bad.
int32_t expected_records(const std::string &text) {
    int32_t records = 0;
    std::string line;
    auto take = [&]() {
        manifest_entry *entry = nullptr;
        if (!parse_manifest_line("downloaded data", line.c_str(), &entry))
            return false;
        if (entry != nullptr)
            ++records;
        free_manifest_entry(entry);
        line.clear();
        return true;
    };
    for (char c : text) {
        if (c != '\n') {
            if (line.size() < 5999)
                line += c;
        } else if (!take()) {
            return -1;
        }
    }
    if (!line.empty() && !take())
        return -1;
    return records;
}

// Compresses text whole; window_bits 25 gives a gzip stream, 9 a zlib stream. A small
// window and little memory keep each run fast; the reader accepts any window size.
std::vector<uint8_t> compress(const std::string &text, int window_bits) {
    z_stream z{};
    std::vector<uint8_t> out;
    if (deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, window_bits, 1, Z_DEFAULT_STRATEGY) != Z_OK)
        return out;
    out.resize(deflateBound(&z, uLong(text.size())) + 64);
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.data()));
    z.avail_in = uInt(text.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    int result = deflate(&z, Z_FINISH);
    FUZZ_CHECK(result == Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

void check_list(const http_fetch_remote_manifest_data &fetcher) {
    int32_t listed = 0;
    const manifest_entry *const *link = &fetcher.head;
    for (const manifest_entry *e = fetcher.head; e != nullptr; e = e->next) {
        ++listed;
        link = &e->next;
    }
    FUZZ_CHECK(listed == fetcher.count);
    FUZZ_CHECK(link == fetcher.tail);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_quiet_log();
    if (size == 0)
        return 0;
    const int mode = data[0] % 5;
    fuzz_pieces pieces(data + 1, size - 1);
    std::string text(reinterpret_cast<const char *>(pieces.payload()), pieces.payload_size());

    http_fetch_remote_manifest_data fetcher;
    FUZZ_CHECK(fetcher.begin_inflate() == 1);

    if (mode == 0) {
        // Inflated text handed over directly, then the end of the body.
        int ok = 1;
        for (size_t at = 0; at < text.size() && ok;) {
            size_t n = pieces.next(text.size() - at);
            ok = fetcher.accept_text(pieces.payload() + at, int32_t(n));
            at += n;
        }
        if (ok)
            ok = fetcher.finish_text();
        check_list(fetcher);
        int32_t expected = expected_records(text);
        FUZZ_CHECK(ok == (expected >= 0));
        FUZZ_CHECK(fetcher.count == (ok ? expected : 0));
        return 0;
    }

    std::vector<uint8_t> body;
    if (mode == 1) {
        body.assign(pieces.payload(), pieces.payload() + pieces.payload_size()); // as received
    } else {
        if (mode == 4) {
            // A text that inflates to more than one 64 KiB window from a small body.
            std::string repeated;
            while (!text.empty() && repeated.size() < 70000)
                repeated += text;
            text = repeated;
        }
        body = compress(text, mode == 2 ? 25 : 9);
    }
    int ok = 1;
    for (size_t at = 0; at < body.size() && ok;) {
        size_t n = pieces.next(body.size() - at);
        ok = http_fetch_remote_manifest_data::download_data_callback(&fetcher, body.data() + at,
                                                                     int32_t(n));
        at += n;
    }
    http_fetch_remote_manifest_data::download_progress_callback(&fetcher, int32_t(body.size()),
                                                                int32_t(body.size()));
    fetcher.end_inflate();
    check_list(fetcher);
    if (!ok)
        FUZZ_CHECK(fetcher.count == 0 || mode == 1);
    if (mode != 1) {
        // A whole, well-formed stream yields exactly the records of its text.
        int32_t expected = expected_records(text);
        FUZZ_CHECK(ok == (expected >= 0));
        FUZZ_CHECK(!ok || fetcher.stream_ended == 1);
        FUZZ_CHECK(fetcher.count == (ok ? expected : 0));
    }
    return 0;
}
