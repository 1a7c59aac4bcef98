// fixed_text: the runtime's one text type, a 6000-byte buffer that is cut, never overrun.
#pragma once

#include <cstdint>

// Capacity is 5999 characters plus the terminator. A length of 6000 marks a text
// that overflowed: it keeps the first 5999 characters and never grows again.
struct fixed_text {
    static constexpr int32_t capacity = 6000;
    static constexpr int32_t overflowed = 6000;

    char text[capacity];
    int32_t length;

    // Empties the text; every fixed_text is cleared before first use.
    void clear();
    // Appends a NUL-terminated text; a null source appends "(null)".
    // Running past the capacity marks the text overflowed (length 6000).
    void append(const char *source);
    // Appends one character while length <= 5998; otherwise drops it silently.
    void append_char(char c);
    // True while one more character fits (length below 5999).
    bool has_room() const { return length < capacity - 1; }
    // clear() then append().
    void assign(const char *source);
};
