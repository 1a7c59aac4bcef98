// Base64 against the RFC 4648 vectors, the decoders' capacity rules and the text limit.
#include "util/base64.h"

#include "client/fixed_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

std::unique_ptr<fixed_text> text_of_length(int32_t length, char fill = 'x') {
    auto t = std::make_unique<fixed_text>();
    t->clear();
    for (int32_t i = 0; i < length; ++i)
        t->append_char(fill);
    return t;
}

const unsigned char *bytes(const std::string &s) {
    return reinterpret_cast<const unsigned char *>(s.data());
}

struct vector_row {
    const char *plain, *encoded;
};
const vector_row rfc4648[] = {
    {"", ""},
    {"f", "Zg=="},
    {"fo", "Zm8="},
    {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"},
};

TEST(Base64, EncodesTheRfcVectors) {
    for (const vector_row &r : rfc4648) {
        SCOPED_TRACE(r.plain);
        auto t = text_of_length(0);
        EXPECT_EQ(base64_encode(*t, bytes(r.plain), int32_t(strlen(r.plain))), 1);
        EXPECT_STREQ(t->text, r.encoded);
        EXPECT_EQ(t->length, int32_t(strlen(r.encoded)));
        auto u = text_of_length(0);
        EXPECT_EQ(base64_encode_text(*u, r.plain), 1);
        EXPECT_STREQ(u->text, r.encoded);
    }
}

TEST(Base64, DecodesTheRfcVectors) {
    for (const vector_row &r : rfc4648) {
        SCOPED_TRACE(r.encoded);
        unsigned char out[16] = {};
        int32_t n = int32_t(strlen(r.plain));
        EXPECT_EQ(base64_decode(out, sizeof out, r.encoded), n);
        EXPECT_EQ(std::string(reinterpret_cast<char *>(out), size_t(n)), r.plain);
        auto t = text_of_length(0);
        EXPECT_EQ(base64_decode_append(*t, r.encoded), 1);
        EXPECT_EQ(std::string(t->text, size_t(t->length)), r.plain);
    }
}

TEST(Base64, EveryByteValueSurvivesARoundTrip) {
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(char(b));
    auto encoded = text_of_length(0);
    ASSERT_EQ(base64_encode(*encoded, bytes(all), int32_t(all.size())), 1);
    EXPECT_EQ(encoded->length, 344);
    unsigned char out[256];
    ASSERT_EQ(base64_decode(out, sizeof out, encoded->text), 256);
    EXPECT_EQ(memcmp(out, all.data(), 256), 0);
    auto appended = text_of_length(0);
    ASSERT_EQ(base64_decode_append(*appended, encoded->text), 1);
    EXPECT_EQ(std::string(appended->text, size_t(appended->length)), all);
}

TEST(Base64, EncodeAppendsUnderTheTextLimit) {
    struct row {
        int32_t start;     // destination length before the call
        std::string input; // bytes to encode
        bool null_data;
        int32_t count; // -1: the input's size
        int result;
        int32_t final_length;
    };
    const row rows[] = {
        {0, "", false, -1, 1, 0},
        {0, "abc", false, 0, 1, 0},
        {0, "abc", false, -7, 1, 0},
        {0, "abc", true, 3, 0, 0},
        {5990, "foobar", false, -1, 1, 5998}, // ends at 5998: fits
        {5991, "foobar", false, -1, 0, 5999}, // ends at exactly 5999: counts as failed
        {5998, "foobar", false, -1, 0, 5999}, // one character appended
        {5998, "", false, -1, 1, 5998},
        {5999, "", false, -1, 0, 5999},
        {5996, "f", false, -1, 0, 5999}, // "Zg" then only one "="
        {0, std::string(4500, 'a'), false, -1, 0, 5999},
    };
    for (const row &r : rows) {
        SCOPED_TRACE("start " + std::to_string(r.start) + ", " + std::to_string(r.input.size()) +
                     " bytes");
        auto t = text_of_length(r.start);
        int32_t count = r.count == -1 ? int32_t(r.input.size()) : r.count;
        EXPECT_EQ(base64_encode(*t, r.null_data ? nullptr : bytes(r.input), count), r.result);
        EXPECT_EQ(t->length, r.final_length);
        EXPECT_EQ(strlen(t->text), size_t(r.final_length));
    }
    // What was cut is still the start of the true encoding.
    auto t = text_of_length(5996);
    base64_encode(*t, bytes("f"), 1);
    EXPECT_STREQ(t->text + 5996, "Zg=");
    EXPECT_EQ(base64_encode_text(*t, nullptr), 0);
}

TEST(Base64, DecodeIntoABufferOfGivenCapacity) {
    struct row {
        const char *text;
        int32_t capacity;
        int32_t result;
        const char *stored; // first bytes expected in the buffer
    };
    const row rows[] = {
        {"Zm9v", 3, 3, "foo"},
        {"Zm9vYg==", 3, 0, "foo"}, // a fourth byte follows: too small, what fit stays
        {"Zm9vYg==", 4, 4, "foob"},
        {"Zm9vYmE=", 4, 0, "foob"},
        {"Zm9vY", 3, 0, "foo"},
        {"Zg==", 1, 1, "f"},
        {"Zm9vYmFy", 100, 6, "foobar"},
        {"Zm9vYmE", 5, 5, "fooba"}, // no padding needed
        {"Zm9=", 5, 2, "fo"},
        {"Zm9v=Zm9v", 9, 3, "foo"}, // stops at the first "="
        {"=Zm9v", 9, 0, ""},
        {"", 9, 0, ""},
        {"Zm9v", 0, 0, ""},
        {"Zm9v", -1, 0, ""},
        {nullptr, 9, 0, ""},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(std::string(r.text ? r.text : "(null)") + " into " +
                     std::to_string(r.capacity));
        unsigned char out[128];
        memset(out, 0, sizeof out);
        EXPECT_EQ(base64_decode(out, r.capacity, r.text), r.result);
        EXPECT_EQ(std::string(reinterpret_cast<char *>(out), strlen(r.stored)), r.stored);
        EXPECT_EQ(out[strlen(r.stored)], 0) << "wrote past the expected bytes";
    }
}

TEST(Base64, CharactersOutsideTheAlphabetDecodeAsZero) {
    // Not skipped: each takes a place with the value of "A".
    const char *pairs[][2] = {
        {"A*A*", "AAAA"}, {"Zm\n9v", "ZmA9v"}, {"Z m9", "ZAm9"}, {"~~~~", "AAAA"}};
    for (auto &p : pairs) {
        unsigned char a[8] = {}, b[8] = {};
        int32_t na = base64_decode(a, sizeof a, p[0]);
        EXPECT_EQ(na, base64_decode(b, sizeof b, p[1])) << p[0];
        EXPECT_EQ(memcmp(a, b, sizeof a), 0) << p[0];
    }
}

TEST(Base64, DecodeAppendUnderTheTextLimit) {
    struct row {
        int32_t start;
        const char *text;
        int result;
        int32_t final_length;
    };
    const row rows[] = {
        {0, "", 1, 0},       {0, "=Zm9v", 1, 0},      {0, nullptr, 0, 0},
        {0, "AAAA", 1, 3},   {5995, "Zm9v", 1, 5998}, {5996, "Zm9v", 0, 5999},
        {5999, "", 0, 5999}, {5999, "Zm9v", 0, 5999}, {0, "Zm9vYmFy", 1, 6},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(std::to_string(r.start) + " + " + (r.text ? r.text : "(null)"));
        auto t = text_of_length(r.start);
        EXPECT_EQ(base64_decode_append(*t, r.text), r.result);
        EXPECT_EQ(t->length, r.final_length);
        EXPECT_EQ(t->text[t->length], '\0');
    }
    auto zeros = text_of_length(0);
    base64_decode_append(*zeros, "AAAA");
    EXPECT_EQ(std::string(zeros->text, 3), std::string(3, '\0'));

    // A long Base64 text: the bytes that fit are kept, the rest dropped.
    auto big = text_of_length(0);
    std::string encoded;
    for (int i = 0; i < 3000; ++i)
        encoded += "Zm9v";
    EXPECT_EQ(base64_decode_append(*big, encoded.c_str()), 0);
    EXPECT_EQ(big->length, 5999);
    EXPECT_EQ(std::string(big->text, 6), "foofoo");
}

} // namespace
