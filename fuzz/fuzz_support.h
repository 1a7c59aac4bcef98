// Shared helpers of the fuzz targets: a quiet but live debug log and input splitting.
#pragma once

#include "client/debug_log.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// Sends every report to /dev/null at the highest verbosity, so that the reporting paths
// (which format parts of the input) run on every input without filling a disk.
inline void fuzz_quiet_log() {
    static bool done = false;
    if (done)
        return;
    done = true;
    log_level = 3;
    qorl_client_set_debug_logfile_name("/dev/null");
    qorl_client_try_open_debug_logfile();
}

// Stops the fuzzer with a report when a property of the code under test does not hold.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);          \
            abort();                                                                               \
        }                                                                                          \
    } while (0)

// A text with every byte outside printable ASCII written as \xNN.
inline std::string fuzz_escaped(const std::string &text) {
    std::string out;
    char hex[8];
    for (unsigned char c : text) {
        if (c >= 32 && c <= 126 && c != '\\') {
            out += char(c);
        } else {
            snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out;
}

// Stops with both texts shown when two runs that must agree did not.
#define FUZZ_CHECK_SAME(a, b)                                                                      \
    do {                                                                                           \
        if ((a) != (b)) {                                                                          \
            fprintf(stderr, "%s:%d: %s and %s differ:\n[%s]\n[%s]\n", __FILE__, __LINE__, #a, #b,  \
                    fuzz_escaped(a).c_str(), fuzz_escaped(b).c_str());                             \
            abort();                                                                               \
        }                                                                                          \
    } while (0)

// Splits an input into a few control bytes and a payload fed in pieces. The first byte
// says how many piece sizes follow (0-7; none feeds the payload whole); each size byte
// gives a piece of 1-256 bytes, and the sizes repeat until the payload is used up.
class fuzz_pieces {
  public:
    fuzz_pieces(const uint8_t *data, size_t size) {
        if (size == 0)
            return;
        count_ = data[0] & 7;
        if (size_t(count_) + 1 > size)
            count_ = int(size - 1);
        sizes_ = data + 1;
        payload_ = data + 1 + count_;
        payload_size_ = size - 1 - size_t(count_);
    }
    const uint8_t *payload() const { return payload_; }
    size_t payload_size() const { return payload_size_; }
    // The size of the next piece when left bytes remain to be fed (1 ... left for left > 0).
    // The same sizes can split another byte string, such as a compressed payload.
    size_t next(size_t left) {
        if (count_ == 0)
            return left;
        size_t piece = size_t(sizes_[turn_++ % count_]) + 1;
        return piece < left ? piece : left;
    }

  private:
    const uint8_t *sizes_ = nullptr;
    const uint8_t *payload_ = nullptr;
    size_t payload_size_ = 0;
    int count_ = 0;
    unsigned turn_ = 0;
};

// The input as a NUL-terminated text in an allocation of exactly its size, so that reading
// past the terminator is caught. An embedded NUL simply ends the text early.
inline std::vector<char> fuzz_c_string(const uint8_t *data, size_t size) {
    std::vector<char> text(size + 1);
    if (size > 0)
        memcpy(text.data(), data, size);
    text[size] = '\0';
    return text;
}

// Compares a run fed in pieces with the same bytes fed whole: the same events, result and
// output. The owner feeds nothing after the processor asked to close, while the single
// feed went on: it shows more, after the same beginning. A failed exchange sends nothing more.
template <typename Run> void fuzz_check_split_matches_whole(const Run &split, const Run &whole) {
    if (split.closed) {
        FUZZ_CHECK_SAME(split.events, whole.events.substr(0, split.events.size()));
        if (whole.result >= 0)
            FUZZ_CHECK_SAME(split.sent, whole.sent.substr(0, split.sent.size()));
    } else {
        FUZZ_CHECK_SAME(split.events, whole.events);
        FUZZ_CHECK(split.result == whole.result);
        if (whole.result >= 0)
            FUZZ_CHECK_SAME(split.sent, whole.sent);
    }
}
