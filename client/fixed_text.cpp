// fixed_text: append operations that check the capacity on every byte.
#include "client/fixed_text.h"

void fixed_text::clear() {
    text[0] = '\0';
    length = 0;
}

void fixed_text::append(const char *source) {
    if (length > capacity - 1) {
        if (length == overflowed)
            text[capacity - 1] = '\0';
        return;
    }
    if (source == nullptr)
        source = "(null)";
    int32_t i = length;
    for (;;) {
        if (i >= capacity) {
            // The terminator did not fit: keep 5999 characters and mark the overflow.
            text[capacity - 1] = '\0';
            length = overflowed;
            return;
        }
        char c = *source++;
        text[i] = c;
        if (c == '\0')
            break;
        ++i;
    }
    length = i;
}

void fixed_text::append_char(char c) {
    if (length <= capacity - 2) {
        text[length++] = c;
        text[length] = '\0';
    }
}

void fixed_text::assign(const char *source) {
    clear();
    append(source);
}
