// string_heap: a binary heap of text pointers ordered by the owner's comparison.
#include "client/string_heap.h"

#include "client/pointer_list.h"

#include <cstdlib>
#include <cstring>

namespace {
constexpr int32_t initial_capacity = 254;
} // namespace

int string_heap::init(compare_function compare_) {
    compare = compare_;
    count = 0;
    slots = static_cast<const char **>(
        container_allocate(size_t(initial_capacity + 2) * sizeof(const char *)));
    capacity = slots != nullptr ? initial_capacity : 0;
    return slots != nullptr;
}

int string_heap::push(const char *text) {
    if (text == nullptr)
        return 1;
    int32_t n = count + 1;
    if (n >= capacity) {
        if (capacity > (INT32_MAX - 4) / 2)
            return 0;
        int32_t new_capacity = 2 * capacity + 2;
        const char **grown = static_cast<const char **>(
            container_allocate(size_t(new_capacity + 2) * sizeof(const char *)));
        if (grown == nullptr)
            return 0; // count untouched: the heap stays as it was
        if (slots != nullptr) {
            memcpy(grown + 1, slots + 1, size_t(n - 1) * sizeof(const char *));
            free(slots);
        }
        slots = grown;
        capacity = new_capacity;
    }
    count = n;
    while (n > 1) {
        int32_t parent = n / 2;
        if (compare(text, slots[parent]) >= 0)
            break;
        slots[n] = slots[parent];
        n = parent;
    }
    slots[n] = text;
    return 1;
}

const char *string_heap::pop() {
    if (count < 1)
        return nullptr;
    const char *result = slots[1];
    const char *moved = slots[count];
    --count;
    int32_t i = 1;
    for (;;) {
        int32_t child = 2 * i;
        if (child > count)
            break;
        if (child + 1 <= count && compare(slots[child], slots[child + 1]) > 0)
            ++child;
        if (compare(slots[child], moved) >= 0)
            break;
        slots[i] = slots[child];
        i = child;
    }
    if (count >= 1)
        slots[i] = moved;
    return result;
}

void string_heap::release() {
    free(slots);
    slots = nullptr;
    capacity = 0;
    count = 0;
}
