// Word rules: separators, case folding of ASCII letters, the 400-character comparison bound.
#include "util/string_utils.h"

#include "client/debug_log.h"
#include "client/fixed_text.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int max_word_compare = 400;

bool is_separator(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}
bool is_word_end(char c) {
    return c == '\0' || is_separator(c);
}

char fold(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

} // namespace

char *dup_string(const char *text) {
    if (text == nullptr)
        return nullptr;
    size_t n = strlen(text) + 1;
    char *copy = static_cast<char *>(malloc(n));
    if (copy != nullptr)
        memcpy(copy, text, n);
    return copy;
}

void free_string(char **text) {
    if (text != nullptr && *text != nullptr) {
        free(*text);
        *text = nullptr;
    }
}

const char *next_arg(const char *text) {
    if (text == nullptr) {
        report_message("Error in next_arg(), NULL pointer passed in.", msg_trace, module_runtime);
        return nullptr;
    }
    while (is_separator(*text))
        ++text;
    if (*text == '\0')
        return nullptr;
    while (!is_word_end(*text))
        ++text;
    while (is_separator(*text))
        ++text;
    return *text == '\0' ? nullptr : text;
}

const char *next_arg_eol(const char *text) {
    if (text == nullptr) {
        report_message("Error in next_arg_eol(), NULL pointer passed in.", msg_trace,
                       module_runtime);
        return nullptr;
    }
    while (*text == ' ')
        ++text;
    if (*text == '\0' || *text == '\n')
        return nullptr;
    while (*text != ' ' && *text != '\0' && *text != '\n')
        ++text;
    while (*text == ' ')
        ++text;
    return (*text == '\0' || *text == '\n') ? nullptr : text;
}

const char *last_arg(const char *text) {
    if (text == nullptr) {
        report_message("Error in last_arg(), NULL pointer passed in.", msg_trace, module_runtime);
        return nullptr;
    }
    const char *last = text;
    for (const char *p = next_arg(text); p != nullptr; p = next_arg(p))
        last = p;
    return last;
}

int parse_int(const char *text, int32_t *value) {
    if (text == nullptr)
        return 0;
    const char *p = text;
    bool negative = false;
    if (*p == '+') {
        ++p;
    } else if (*p == '-') {
        if (p[1] < '0' || p[1] > '9')
            return 0;
        negative = true;
        ++p;
    } else if (*p < '0' || *p > '9') {
        return 0;
    }
    int64_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (magnitude <= int64_t(INT32_MAX) + 1)
            magnitude = magnitude * 10 + (*p - '0');
    }
    int64_t result = negative ? -magnitude : magnitude;
    if (result > INT32_MAX)
        result = INT32_MAX;
    if (result < INT32_MIN)
        result = INT32_MIN;
    if (value != nullptr)
        *value = int32_t(result);
    return 1;
}

int word_equals(const char *a, const char *b) {
    if (a == nullptr || b == nullptr)
        return 0;
    for (int i = 0; i < max_word_compare; ++i) {
        bool a_end = is_word_end(a[i]);
        bool b_end = is_word_end(b[i]);
        if (a_end && b_end)
            return 1;
        if (a_end != b_end || fold(a[i]) != fold(b[i]))
            return 0;
    }
    return 0;
}

int word_in_list(const char *word, const char *list) {
    if (word == nullptr)
        return 0;
    for (const char *p = list; p != nullptr; p = next_arg(p)) {
        if (word_equals(word, p))
            return 1;
    }
    return 0;
}

int word_prefix_length(const char *prefix, const char *text) {
    // An empty prefix ends at position 0; going on would read past both terminators.
    if (prefix == nullptr || text == nullptr || prefix[0] == '\0')
        return 0;
    if (fold(prefix[0]) != fold(text[0]))
        return 0;
    for (int i = 1; i < max_word_compare; ++i) {
        if (is_word_end(prefix[i]))
            return i;
        if (fold(prefix[i]) != fold(text[i]))
            return 0;
    }
    return 0;
}

int safe_strcpy(char *destination, const char *source, int32_t size) {
    if (destination == nullptr) {
        report_message("Error in safe_strcpy(), NULL dest.", msg_usage, module_runtime);
        return 0;
    }
    if (size <= 0) {
        report_message("Error in safe_strcpy(), dest too short.", msg_usage, module_runtime);
        return 0;
    }
    if (source == nullptr) {
        destination[0] = '\0';
        report_message("Error in safe_strcpy(), NULL src.", msg_usage, module_runtime);
        return 0;
    }
    size_t n = strlen(source);
    if (n < size_t(size)) {
        memcpy(destination, source, n + 1);
        return 1;
    }
    memcpy(destination, source, size_t(size) - 1);
    destination[size - 1] = '\0';
    fixed_text message;
    message.clear();
    message.append("Error in safe_strcpy(), src overflow. String was: ->");
    message.append(source);
    message.append("<-");
    report_message(message.text, msg_usage, module_runtime);
    return 0;
}

// Appends the first word of a text character by character (cut at the text's limit).
static void append_word(fixed_text &out, const char *word) {
    for (; !is_word_end(*word); ++word)
        out.append_char(*word);
}

const char *add_remove_keyword_line(const char *keyword, char **list) {
    if (keyword == nullptr || list == nullptr) {
        report_message("Error in add_remove_keyword_line(), null dest?", msg_usage, module_runtime);
        return nullptr;
    }
    if (word_equals(keyword, "NULL")) {
        if (*list == nullptr)
            return "List is already empty.";
        free_string(list);
        return "List deleted.";
    }
    fixed_text rebuilt;
    rebuilt.clear();
    if (word_in_list(keyword, *list)) {
        for (const char *p = *list; p != nullptr; p = next_arg(p)) {
            while (is_separator(*p))
                ++p;
            if (*p == '\0' || word_equals(keyword, p))
                continue;
            if (rebuilt.length > 0)
                rebuilt.append_char(' ');
            append_word(rebuilt, p);
        }
        free_string(list);
        if (rebuilt.length > 0)
            *list = dup_string(rebuilt.text);
        return "Keyword removed.";
    }
    append_word(rebuilt, keyword);
    if (*list != nullptr) {
        rebuilt.append(" ");
        rebuilt.append(*list);
    }
    free_string(list);
    *list = dup_string(rebuilt.text);
    return "Keyword added.";
}
