// Word rules of the string helpers: separators, case folding, the 400-character bound.
#include "util/string_utils.h"

#include "client/debug_log.h"
#include "tests/support/files.h"
#include "tests/support/log_capture.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Position of a result inside its text, or -1 for null.
long offset(const char *text, const char *result) {
    return result ? long(result - text) : -1;
}

TEST(NextArg, SkipsTheCurrentWordAndItsSeparators) {
    struct row {
        const char *text;
        long next;
    };
    const row rows[] = {
        {"one\ttwo", 4},  {"one   ", -1},      {"", -1},      {"   ", -1},   {"one two three", 4},
        {"  one two", 6}, {"one \t\n two", 7}, {"a\rb c", 4}, {"one\n", -1}, {"\tone", -1},
        {"x y", 2},
    };
    for (const row &r : rows)
        EXPECT_EQ(offset(r.text, next_arg(r.text)), r.next) << '"' << r.text << '"';
}

TEST(NextArgEol, OnlySpacesSeparateAndALineFeedEnds) {
    struct row {
        const char *text;
        long next;
    };
    const row rows[] = {
        {"one two", 4},   {"  one  two", 7}, {"one\ttwo", -1},  {"one\ttwo three", 8},
        {"one\ntwo", -1}, {"one \ntwo", -1}, {"\none two", -1}, {" ", -1},
        {"", -1},         {"one ", -1},      {"a\rb c", 4},
    };
    for (const row &r : rows)
        EXPECT_EQ(offset(r.text, next_arg_eol(r.text)), r.next) << '"' << r.text << '"';
}

TEST(LastArg, FollowsNextArgToTheEnd) {
    struct row {
        const char *text;
        long last;
    };
    const row rows[] = {
        {"one", 0}, {"one two three", 8}, {"one two  ", 4}, {"", 0}, {"  one", 0}, {"a\tb\nc", 4},
    };
    for (const row &r : rows)
        EXPECT_EQ(offset(r.text, last_arg(r.text)), r.last) << '"' << r.text << '"';
}

TEST(NullTexts, AreReportedAsTraceOnly) {
    log_capture log(1);
    log_level = 3;
    EXPECT_EQ(next_arg(nullptr), nullptr);
    EXPECT_EQ(next_arg_eol(nullptr), nullptr);
    EXPECT_EQ(last_arg(nullptr), nullptr);
    log_level = 1;
    EXPECT_EQ(next_arg(nullptr), nullptr); // trace reports are not written at level 1
    EXPECT_EQ(log.text(), "Error in next_arg(), NULL pointer passed in.\n"
                          "Error in next_arg_eol(), NULL pointer passed in.\n"
                          "Error in last_arg(), NULL pointer passed in.\n");
}

TEST(WordEquals, ComparesFirstWordsIgnoringCase) {
    std::string w399(399, 'w'), w400(400, 'w'), w401(401, 'w'), w399x = w399 + " x";
    struct row {
        const char *a, *b;
        int equal;
    };
    const row rows[] = {
        {"-V more words", "-v", 1},
        {"-v", "-V\tx", 1},
        {"--verbose", "--VERBOSE\n", 1},
        {"-vx", "-v", 0},
        {"-v", "-vx", 0},
        {"", "", 1},
        {"", " anything", 1},
        {"a", "", 0},
        {"a\r", "a", 0}, // a carriage return is part of the word
        {"[", "{", 0},   // only A-Z fold
        {"@", "`", 0},
        {"Z", "z", 1},
        {w399.c_str(), w399.c_str(), 1},
        {w399x.c_str(), w399.c_str(), 1},
        {w400.c_str(), w400.c_str(), 0},
        {w401.c_str(), w401.c_str(), 0},
        {nullptr, "a", 0},
        {"a", nullptr, 0},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(std::string(r.a ? r.a : "(null)").substr(0, 20) + " / " +
                     std::string(r.b ? r.b : "(null)").substr(0, 20));
        EXPECT_EQ(word_equals(r.a, r.b), r.equal);
    }
}

TEST(WordInList, MatchesAnyWordOfTheList) {
    struct row {
        const char *word, *list;
        int found;
    };
    const row rows[] = {
        {"-v", "-v --verbose", 1},
        {"--VERBOSE", "-v --verbose", 1},
        {"-V", "-v --verbose", 1},
        {"-verbose", "-v --verbose", 0},
        {"-v", " -v --verbose", 0}, // a leading blank hides it
        {"--verbose", " -v --verbose", 1},
        {"-v extra", "-h -v", 1},
        {"", "-h -v", 0},
        {"-v", "", 0},
        {"-v", nullptr, 0},
        {nullptr, "-v", 0},
        {"c", "a\tb\nc", 1},
    };
    for (const row &r : rows)
        EXPECT_EQ(word_in_list(r.word, r.list), r.found)
            << (r.word ? r.word : "(null)") << " in " << (r.list ? r.list : "(null)");
}

TEST(WordPrefixLength, LengthOfAMatchingPrefix) {
    std::string p399(399, 'p'), p400(400, 'p');
    std::string t500(500, 'p');
    struct row {
        const char *prefix, *text;
        int length;
    };
    const row rows[] = {
        {"HTTP/", "http/1.1 200 OK", 5},
        {"HTTP/ trailing", "http/1.1", 5},
        {"http/", "HTTX/1.1", 0},
        {"Content-Length:", "content-length: 12", 15},
        {"ab", "a", 0},
        {"a b", "a", 1},
        {"ab", "a b", 0}, // the text's separators are ordinary characters here
        {"a", "", 0},
        {"", "", 0},
        {"", "abc", 0},
        {p399.c_str(), t500.c_str(), 399},
        {p400.c_str(), t500.c_str(), 0},
        {nullptr, "x", 0},
        {"x", nullptr, 0},
    };
    for (const row &r : rows)
        EXPECT_EQ(word_prefix_length(r.prefix, r.text), r.length)
            << std::string(r.prefix ? r.prefix : "(null)").substr(0, 20) << " / "
            << std::string(r.text ? r.text : "(null)").substr(0, 20);
}

TEST(ParseInt, LeadingDecimalNumberWithSaturation) {
    struct row {
        const char *text;
        int result;
        int32_t value;
    };
    const int32_t untouched = 4242;
    const row rows[] = {
        {"123", 1, 123},
        {"-45", 1, -45},
        {"+7", 1, 7},
        {"+", 1, 0},
        {"+x", 1, 0},
        {"12abc", 1, 12},
        {"007", 1, 7},
        {"0", 1, 0},
        {"-a", 0, untouched},
        {"-", 0, untouched},
        {"abc", 0, untouched},
        {" 12", 0, untouched},
        {"", 0, untouched},
        {"2147483647", 1, INT32_MAX},
        {"2147483648", 1, INT32_MAX},
        {"-2147483648", 1, INT32_MIN},
        {"-2147483649", 1, INT32_MIN},
        {"99999999999999999999999999999", 1, INT32_MAX},
        {"-99999999999999999999999999999", 1, INT32_MIN},
        {nullptr, 0, untouched},
    };
    for (const row &r : rows) {
        int32_t value = untouched;
        EXPECT_EQ(parse_int(r.text, &value), r.result) << (r.text ? r.text : "(null)");
        EXPECT_EQ(value, r.value) << (r.text ? r.text : "(null)");
        EXPECT_EQ(parse_int(r.text, nullptr), r.result);
    }
}

TEST(SafeStrcpy, CopiesWholeOrCutsAndReports) {
    log_capture log(1);
    char buffer[12];
    struct row {
        const char *source;
        int32_t size;
        int result;
        const char *stored; // null: the destination is not touched
    };
    const row rows[] = {
        {"0123456789", 11, 1, "0123456789"},
        {"0123456789", 10, 0, "012345678"},
        {"0123456789", 1, 0, ""},
        {"", 1, 1, ""},
        {"abc", 0, 0, nullptr},
        {"abc", -4, 0, nullptr},
        {nullptr, 5, 0, ""},
    };
    for (const row &r : rows) {
        memset(buffer, '#', sizeof buffer);
        buffer[sizeof buffer - 1] = '\0';
        EXPECT_EQ(safe_strcpy(buffer, r.source, r.size), r.result);
        EXPECT_STREQ(buffer, r.stored ? r.stored : "###########");
    }
    EXPECT_EQ(safe_strcpy(nullptr, "abc", 4), 0);
    EXPECT_EQ(log.text(), "Error in safe_strcpy(), src overflow. String was: ->0123456789<-\n"
                          "Error in safe_strcpy(), src overflow. String was: ->0123456789<-\n"
                          "Error in safe_strcpy(), dest too short.\n"
                          "Error in safe_strcpy(), dest too short.\n"
                          "Error in safe_strcpy(), NULL src.\n"
                          "Error in safe_strcpy(), NULL dest.\n");
}

TEST(SafeStrcpy, OverflowReportIsCutAtTheTextLimit) {
    log_capture log(1);
    std::string source(10000, 's');
    char small[4];
    EXPECT_EQ(safe_strcpy(small, source.c_str(), sizeof small), 0);
    EXPECT_STREQ(small, "sss");
    std::string head = "Error in safe_strcpy(), src overflow. String was: ->";
    // The closing "<-" no longer fits: the message keeps its first 5999 characters.
    EXPECT_EQ(log.text(), head + source.substr(0, 5999 - head.size()) + "\n");
}

TEST(DupString, CopiesAndFreesOwnedTexts) {
    char *copy = dup_string("owned text");
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, "owned text");
    free_string(&copy);
    EXPECT_EQ(copy, nullptr);
    free_string(&copy); // already null: nothing
    free_string(nullptr);
    EXPECT_EQ(dup_string(nullptr), nullptr);
}

TEST(AddRemoveKeywordLine, SequencesOfEdits) {
    // Each step: keyword, expected status, expected list afterwards (null: no list).
    struct step {
        const char *keyword, *status, *list;
    };
    struct row {
        const char *start;
        std::vector<step> steps;
    };
    const row rows[] = {
        {nullptr, {{"alpha", "Keyword added.", "alpha"}, {"ALPHA", "Keyword removed.", nullptr}}},
        {nullptr,
         {{"a", "Keyword added.", "a"},
          {"b extra words", "Keyword added.", "b a"},
          {"c", "Keyword added.", "c b a"},
          {"B", "Keyword removed.", "c a"},
          {"null", "List deleted.", nullptr},
          {"NULL", "List is already empty.", nullptr}}},
        {"x  y\tx\nz", {{"x", "Keyword removed.", "y z"}}},
        {"one two", {{"three", "Keyword added.", "three one two"}}},
        {" lead", {{"lead", "Keyword added.", "lead  lead"}}}, // a leading blank hides it
    };
    for (const row &r : rows) {
        char *list = dup_string(r.start);
        for (const step &s : r.steps) {
            SCOPED_TRACE(s.keyword);
            const char *status = add_remove_keyword_line(s.keyword, &list);
            ASSERT_NE(status, nullptr);
            EXPECT_STREQ(status, s.status);
            if (s.list == nullptr)
                EXPECT_EQ(list, nullptr);
            else
                EXPECT_STREQ(list, s.list);
        }
        free_string(&list);
    }
}

TEST(AddRemoveKeywordLine, BadArgumentsAndLongLists) {
    log_capture log(1);
    char *list = nullptr;
    EXPECT_EQ(add_remove_keyword_line(nullptr, &list), nullptr);
    EXPECT_EQ(add_remove_keyword_line("a", nullptr), nullptr);
    EXPECT_EQ(log.text(), "Error in add_remove_keyword_line(), null dest?\n"
                          "Error in add_remove_keyword_line(), null dest?\n");

    // A keyword longer than a text holds is cut at 5999 characters; so is the list it heads.
    std::string huge(7000, 'k');
    EXPECT_STREQ(add_remove_keyword_line(huge.c_str(), &list), "Keyword added.");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(strlen(list), 5999u);
    EXPECT_STREQ(add_remove_keyword_line("short", &list), "Keyword added.");
    EXPECT_EQ(strlen(list), 5999u);
    EXPECT_EQ(std::string(list, 6), "short ");
    free_string(&list);
}

} // namespace
