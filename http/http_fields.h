// Small text helpers shared by the HTTP processor's files: cut copies into fixed fields.
#pragma once

#include "client/debug_log.h"
#include "client/fixed_text.h"

#include <cstddef>
#include <cstring>

namespace http_fields {

// Copies source (null means empty) into a field of size bytes, cut at size - 1 characters.
template <size_t N> void copy_cut(char (&field)[N], const char *source) {
    size_t i = 0;
    if (source != nullptr)
        for (; i + 1 < N && source[i] != '\0'; ++i)
            field[i] = source[i];
    field[i] = '\0';
}

// Copies the first word of source (up to space, tab, line feed or end), cut to fit.
template <size_t N> void copy_word_cut(char (&field)[N], const char *source) {
    size_t i = 0;
    if (source != nullptr)
        for (; i + 1 < N && source[i] != '\0' && source[i] != ' ' && source[i] != '\t' &&
               source[i] != '\n';
             ++i)
            field[i] = source[i];
    field[i] = '\0';
}

// Replaces every "," and ";" with a space, so that the word rules split lists.
inline void commas_to_spaces(char *text) {
    for (; *text != '\0'; ++text)
        if (*text == ',' || *text == ';')
            *text = ' ';
}

inline bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

// Reports head + middle + tail through the message filter with the HTTP module code.
inline void report3(const char *head, const char *middle, const char *tail, uint32_t category) {
    fixed_text message;
    message.clear();
    message.append(head);
    message.append(middle);
    if (tail != nullptr)
        message.append(tail);
    report_message(message.text, category, module_http);
}

} // namespace http_fields
