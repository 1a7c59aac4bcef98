// Line and block readers on real streams: carriage returns, over-long lines, missing ends.
#include "util/stream_io.h"

#include "client/debug_log.h"
#include "tests/support/files.h"
#include "tests/support/log_capture.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// A temporary stream holding the given bytes (NUL bytes included), read from the start.
struct stream {
    explicit stream(const std::string &content) : file(tmpfile()) {
        if (file != nullptr) {
            fwrite(content.data(), 1, content.size(), file);
            rewind(file);
        }
    }
    ~stream() {
        if (file != nullptr)
            fclose(file);
    }
    std::string rest() {
        std::string s;
        for (int c = fgetc(file); c != EOF; c = fgetc(file))
            s.push_back(char(c));
        return s;
    }
    FILE *file;
};

const std::string line_warning = "Warning in fget_line(), string overflow.  String was:\n";

TEST(FgetLine, ReadsLinesAsTheFilesHoldThem) {
    struct line {
        int32_t result;
        const char *text;
    };
    struct row {
        std::string content;
        int32_t size;
        std::vector<line> lines; // then 0 at the end of the file
        std::string log;
    };
    const row rows[] = {
        {"abc\r\ndef", 10, {{4, "abc"}, {4, "def"}}, ""},
        {"one\ntwo", 10, {{4, "one"}, {4, "two"}}, ""}, // last line without a line feed
        {"\n\nx\n", 10, {{1, ""}, {1, ""}, {2, "x"}}, ""},
        {"\r\n\ra\rb\r\n", 10, {{1, ""}, {3, "ab"}}, ""},
        {"\r\r\r", 10, {{1, ""}}, ""},
        {"abc\n", 5, {{4, "abc"}}, ""},
        {std::string("ab\0cd\n", 6), 10, {{3, "ab"}, {3, "cd"}}, ""},
        {std::string("\0x", 2), 10, {{1, ""}, {2, "x"}}, ""},
        // size - 1 characters and a line feed: whole, feed consumed, still a warning.
        {"abcd\nxy\n", 5, {{5, "abcd"}, {3, "xy"}}, line_warning + "abcd\n"},
        // size + 5 characters: size - 1 kept, one lost, the other 5 are the next line.
        {"abcdefghijklmno\nz",
         10,
         {{10, "abcdefghi"}, {6, "klmno"}, {2, "z"}},
         line_warning + "abcdefghi\n"},
        // carriage returns do not count toward the limit.
        {"a\r\rbc\n", 4, {{4, "abc"}}, line_warning + "abc\n"},
        {"a\r\rb\n", 4, {{3, "ab"}}, ""},
        {"xyz",
         1,
         {{1, ""}, {1, ""}, {1, ""}},
         line_warning + "\n" + line_warning + "\n" + line_warning + "\n"},
    };
    for (const row &r : rows) {
        SCOPED_TRACE("size " + std::to_string(r.size) + ": " + r.content);
        log_capture log(1);
        stream in(r.content);
        ASSERT_NE(in.file, nullptr);
        // Exactly size bytes on the heap: any write past them is caught.
        std::unique_ptr<char[]> buffer(new char[size_t(r.size)]);
        for (const line &l : r.lines) {
            EXPECT_EQ(fget_line(in.file, buffer.get(), r.size), l.result);
            EXPECT_STREQ(buffer.get(), l.text);
        }
        memset(buffer.get(), '#', size_t(r.size));
        EXPECT_EQ(fget_line(in.file, buffer.get(), r.size), 0);
        EXPECT_EQ(buffer[0], '#') << "buffer touched at the end of the file";
        EXPECT_EQ(log.text(), r.log);
    }
}

TEST(FgetLine, SizeZeroWritesNothingAndConsumesOneCharacter) {
    log_capture log(1);
    stream in("ab\n");
    char guard = '#';
    EXPECT_EQ(fget_line(in.file, &guard, 0), 1);
    EXPECT_EQ(guard, '#');
    EXPECT_EQ(in.rest(), "b\n");
    EXPECT_EQ(log.text(), line_warning + "\n");
}

TEST(FgetLong, ReadsSemicolonTerminatedTexts) {
    struct piece {
        int32_t result;
        std::string text;
    };
    struct row {
        std::string content;
        std::vector<piece> pieces;
        std::string rest;
    };
    const row rows[] = {
        {"abc;\ndef;\nz", {{4, "abc"}, {4, "def"}}, "z"},
        {"line1\nline2;\n", {{12, "line1\nline2"}}, ""},
        {std::string("a\0bc;x", 6), {{2, "a"}, {2, "c"}}, ""}, // the byte after the end is dropped
        {"abc", {{4, "abc"}, {1, ""}}, ""},
        {";;;", {{1, ""}, {1, ""}}, ""},
        {std::string(4199, 'x') + ";!", {{4200, std::string(4199, 'x')}}, ""},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.content.substr(0, 20));
        stream in(r.content);
        std::unique_ptr<char[]> buffer(new char[4201]);
        for (const piece &p : r.pieces) {
            EXPECT_EQ(fget_long(in.file, buffer.get()), p.result);
            EXPECT_EQ(std::string(buffer.get()), p.text);
        }
        EXPECT_EQ(in.rest(), r.rest);
    }
}

TEST(FgetLong, OverflowKeeps4200CharactersAndWarns) {
    log_capture log(1);
    std::string content = std::string(4200, 'a') + std::string(100, 'b') + ";\n";
    stream in(content);
    std::unique_ptr<char[]> buffer(new char[4201]);
    EXPECT_EQ(fget_long(in.file, buffer.get()), 4201);
    EXPECT_EQ(std::string(buffer.get()), std::string(4200, 'a'));
    EXPECT_EQ(fget_long(in.file, buffer.get()), 101);
    EXPECT_EQ(std::string(buffer.get()), std::string(100, 'b'));
    EXPECT_EQ(log.text(), "Warning in fget_long(), string overflow.  String was:\n" +
                              std::string(4200, 'a') + "\n");
}

TEST(FgetBlock, ReadsUpToTwelveNumbersOfALine) {
    struct row {
        std::string content;
        int32_t count;
        std::vector<int32_t> values; // the first values; every later slot must be 0
        std::string rest;
        bool eof_report;
    };
    const row rows[] = {
        {"1 2 3\nnext", 3, {1, 2, 3}, "next", false},
        {"1 2 3 4 5 6 7 8 9 10 11 12 13 14\nnext",
         12,
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
         "next",
         false},
        {"1 2 3 4 5 6 7 8 9 10 11 12", 12, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, "", false},
        {"1 2 3 \n4 5\nnext", 5, {1, 2, 3, 4, 5}, "next", false}, // a blank before the end
        {"-5 +6 2147483647 -2147483648\n", 4, {-5, 6, INT32_MAX, INT32_MIN}, "", false},
        {"1 2 x\nnext", 2, {1, 2}, "x\nnext", false},
        {"\n1\n", 0, {}, "1\n", false},
        {"1 2\r\n", 2, {1, 2}, "\n", false},
        {"", 0, {}, "", true},
        {"1 2", 2, {1, 2}, "", true},
        {"   ", 0, {}, "", true},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.content);
        log_capture log(1);
        stream in(r.content);
        int32_t values[12];
        for (int32_t &v : values)
            v = 99;
        EXPECT_EQ(fget_block(in.file, values), r.count);
        for (int i = 0; i < 12; ++i)
            EXPECT_EQ(values[i], i < int(r.values.size()) ? r.values[size_t(i)] : 0)
                << "slot " << i;
        EXPECT_EQ(in.rest(), r.rest);
        EXPECT_EQ(log.text(), r.eof_report ? "Error in fget_block(), EOF encountered.\n" : "");
    }
}

TEST(FgetDblock, ReadsDoublesTheSameWay) {
    struct row {
        std::string content;
        int32_t count;
        std::vector<double> values;
        bool eof_report;
    };
    const row rows[] = {
        {"1.5 -2e3 0.25\n", 3, {1.5, -2000.0, 0.25}, false},
        {"1 2 3 4 5 6 7 8 9 10 11 12.5 13\n", 12, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12.5}, false},
        {"7 abc\n", 1, {7}, false},
        {"", 0, {}, true},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.content);
        log_capture log(1);
        stream in(r.content);
        double values[12];
        for (double &v : values)
            v = 99;
        EXPECT_EQ(fget_dblock(in.file, values), r.count);
        for (int i = 0; i < 12; ++i)
            EXPECT_EQ(values[i], i < int(r.values.size()) ? r.values[size_t(i)] : 0.0)
                << "slot " << i;
        EXPECT_EQ(log.text(), r.eof_report ? "Error in fget_dblock(), EOF encountered.\n" : "");
    }
}

} // namespace
