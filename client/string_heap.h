// string_heap: a binary heap of text pointers ordered by the owner's comparison.
#pragma once

#include <cstdint>

// The heap never owns or copies its texts.
struct string_heap {
    // Negative when a must come out before b.
    typedef int (*compare_function)(const char *a, const char *b);

    const char **slots; // positions 1 ... count hold the heap; 0 is unused
    int32_t capacity;   // growth threshold: 254 at first, room for capacity + 2 pointers
    int32_t count;
    compare_function compare;

    // Empty heap with room for 256 pointers. Returns 1, or 0 when that allocation failed
    // (the heap is still usable: push tries to allocate again).
    int init(compare_function compare);
    // Inserts a text; a null text is ignored (and returns 1).
    // Returns 0 only when growing failed; the text is then not inserted, nothing is lost.
    int push(const char *text);
    // The text that compares lowest, removed; null when the heap is empty.
    const char *pop();
    // Frees the array; init() again before reuse.
    void release();
};
