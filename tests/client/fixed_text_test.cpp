// fixed_text at its limits: 5999 characters fit, the 6000th overflows.
#include "client/fixed_text.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

std::unique_ptr<fixed_text> make_text(const std::string &content) {
    auto t = std::make_unique<fixed_text>();
    t->clear();
    t->append(content.c_str());
    return t;
}

TEST(FixedText, AppendAtTheLimits) {
    struct row {
        size_t first, second;
        int32_t length;
    };
    const row rows[] = {
        {0, 0, 0},       {5999, 0, 5999},    {6000, 0, 6000},  {5998, 1, 5999},
        {5999, 1, 6000}, {3000, 3000, 6000}, {10000, 0, 6000},
    };
    for (const row &r : rows) {
        auto t = make_text(std::string(r.first, 'a'));
        t->append(std::string(r.second, 'b').c_str());
        SCOPED_TRACE(std::to_string(r.first) + "+" + std::to_string(r.second));
        EXPECT_EQ(t->length, r.length);
        size_t kept = r.length == 6000 ? 5999 : size_t(r.length);
        EXPECT_EQ(strlen(t->text), kept);
        EXPECT_EQ(t->text[kept], '\0');
    }
}

TEST(FixedText, OverflowedTextNeverGrows) {
    auto t = make_text(std::string(6000, 'x'));
    t->append("more");
    t->append_char('y');
    t->append("");
    EXPECT_EQ(t->length, 6000);
    EXPECT_EQ(strlen(t->text), 5999u);
}

TEST(FixedText, NullAppendsNullText) {
    auto t = make_text("a");
    t->append(nullptr);
    EXPECT_STREQ(t->text, "a(null)");
    EXPECT_EQ(t->length, 7);
}

TEST(FixedText, AppendCharAndHasRoom) {
    auto t = make_text(std::string(5998, 'a'));
    EXPECT_TRUE(t->has_room());
    t->append_char('/');
    EXPECT_EQ(t->length, 5999);
    EXPECT_FALSE(t->has_room());
    t->append_char('/');
    EXPECT_EQ(t->length, 5999);
    EXPECT_EQ(t->text[5998], '/');
    // The text form of the same character overflows where append_char stops.
    t->append("/");
    EXPECT_EQ(t->length, 6000);
    EXPECT_EQ(t->text[5998], '/');
    EXPECT_EQ(t->text[5999], '\0');
    EXPECT_FALSE(t->has_room());
}

} // namespace
