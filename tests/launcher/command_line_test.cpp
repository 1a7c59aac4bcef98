// Argument conversion: UTF-8 decoding one sequence at a time, and the printable-ASCII result.
#include "launcher/command_line.h"

#include "client/fixed_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

struct decoded {
    uint32_t value;
    int bytes;
};

// Every value utf8_next_char yields for a text, with the bytes each step used.
std::vector<decoded> decode_all(const std::string &text) {
    std::vector<decoded> out;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text.c_str());
    uint32_t value = 0xdeadbeef;
    for (;;) {
        const unsigned char *before = p;
        if (!utf8_next_char(&p, &value))
            break;
        out.push_back({value, int(p - before)});
        if (out.size() > text.size()) // each step uses at least one byte
            break;
    }
    return out;
}

TEST(Utf8NextChar, DecodesOneSequenceAtATime) {
    struct row {
        const char *name;
        std::string text;
        std::vector<decoded> expected;
    };
    const row rows[] = {
        {"empty", "", {}},
        {"ascii", "A~\x7f", {{'A', 1}, {'~', 1}, {0x7f, 1}}},
        {"control", "\t\x01", {{9, 1}, {1, 1}}},
        {"two bytes", "\xc3\xa9", {{0xe9, 2}}},
        {"two bytes, top", "\xdf\xbf", {{0x7ff, 2}}},
        {"three bytes", "\xe2\x82\xac", {{0x20ac, 3}}},
        {"four bytes", "\xf0\x9f\x98\x80", {{0x1f600, 4}}},
        {"four bytes, 0xf7 lead", "\xf7\xbf\xbf\xbf", {{0x1fffff, 4}}},
        {"stray continuation",
         "\x80\xbf"
         "a",
         {{0, 1}, {0x3f, 1}, {'a', 1}}},
        {"overlong is not checked", "\xc0\xaf", {{0x2f, 2}}},
        {"surrogate is not checked", "\xed\xa0\x80", {{0xd800, 3}}},
        {"two bytes cut",
         "\xc3"
         "a",
         {{0x03, 1}, {'a', 1}}},
        {"two bytes at the end", "\xc3", {{0x03, 1}}},
        {"three bytes cut after one",
         "\xe2\x82"
         "a",
         {{0x82, 2}, {'a', 1}}},
        {"three bytes at the end", "\xe2", {{0x02, 1}}},
        {"four bytes cut after two", "\xf0\x9f\x98", {{0x7d8, 3}}},
        {"four bytes cut by a lead", "\xf0\x9f\xc3\xa9", {{0x1f, 2}, {0xe9, 2}}},
        {"0xf8", "\xf8\x88\x80\x80\x80", {{'.', 1}, {0x08, 1}, {0, 1}, {0, 1}, {0, 1}}},
        {"0xff",
         "\xff"
         "a",
         {{'.', 1}, {'a', 1}}},
        {"0xfe 0xfc", "\xfe\xfc", {{'.', 1}, {'.', 1}}},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.name);
        std::vector<decoded> got = decode_all(r.text);
        ASSERT_EQ(got.size(), r.expected.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].value, r.expected[i].value) << "step " << i;
            EXPECT_EQ(got[i].bytes, r.expected[i].bytes) << "step " << i;
        }
    }
}

TEST(Utf8NextChar, EndLeavesPositionAndValueAlone) {
    const unsigned char text[] = {0};
    const unsigned char *p = text;
    uint32_t value = 77;
    EXPECT_FALSE(utf8_next_char(&p, &value));
    EXPECT_EQ(p, text);
    EXPECT_EQ(value, 77u);
}

std::string convert(const std::string &utf8) {
    auto t = std::make_unique<fixed_text>();
    t->clear();
    convert_utf8_argument(utf8.c_str(), *t);
    return std::string(t->text, size_t(t->length));
}

TEST(ConvertUtf8Argument, GivesPrintableAscii) {
    struct row {
        const char *name;
        std::string utf8;
        std::string ascii;
    };
    const row rows[] = {
        {"ascii", "-v --Verbose", "-v --Verbose"},
        {"kept controls", "a\tb\nc\rd", "a\tb\nc\rd"},
        {"other controls",
         "a\x01\x1b\x1f\x7f"
         "b",
         "a....b"},
        {"one dot per character",
         "\xc3\xa9\xe2\x82\xac"
         "x\xf0\x9f\x98\x80",
         "..x."},
        {"truncated sequences",
         "\xc3"
         "a\xe2\x82"
         "b",
         ".a.b"},
        {"0xf8-0xff", "\xf8\xfb\xfc\xff", "...."},
        {"a stray continuation decoding to 0 ends it",
         "ab\x80"
         "cd",
         "ab"},
        {"an overlong NUL ends it",
         "ab\xc0\x80"
         "cd",
         "ab"},
        {"overlong slash", "\xc0\xaf", "/"},
        {"empty", "", ""},
    };
    for (const row &r : rows)
        EXPECT_EQ(convert(r.utf8), r.ascii) << r.name;
}

TEST(ConvertUtf8Argument, AppendsAndIsCutAt5999) {
    auto t = std::make_unique<fixed_text>();
    t->clear();
    t->append("prefix:");
    convert_utf8_argument("\xc3\xa9z", *t);
    EXPECT_STREQ(t->text, "prefix:.z");

    EXPECT_EQ(convert(std::string(10000, 'a')), std::string(5999, 'a'));
    std::string euros;
    for (int i = 0; i < 10000; ++i)
        euros += "\xe2\x82\xac";
    EXPECT_EQ(convert(euros), std::string(5999, '.'));

    t->clear();
    convert_utf8_argument(nullptr, *t);
    EXPECT_EQ(t->length, 0);
}

TEST(ConvertUtf8Argument, AnyBytesStayPrintableAndWithinTheText) {
    std::mt19937 random(20240611);
    for (size_t size : {1u, 7u, 100u, 5999u, 6000u, 100000u}) {
        // No NUL, and no byte that can decode to 0 (a bare 0x80, or a lead whose value
        // bits are all 0), so the conversion must run to the end.
        std::string bytes(size, ' ');
        for (char &c : bytes) {
            unsigned b = unsigned(random() % 255 + 1);
            c = (b == 0x80 || b == 0xc0 || b == 0xe0 || b == 0xf0) ? 'q' : char(b);
        }
        std::string out = convert(bytes);
        SCOPED_TRACE(size);
        EXPECT_LE(out.size(), 5999u);
        for (char c : out)
            EXPECT_TRUE((c >= 32 && c <= 126) || c == '\t' || c == '\n' || c == '\r')
                << int((unsigned char)c);
        if (size >= 5999 * 4) {
            EXPECT_EQ(out.size(), 5999u);
        }
    }
}

} // namespace
