// pointer_list: an append-only array of pointers that lives inline for its first 64 items.
#include "client/pointer_list.h"

#include <cstdlib>
#include <cstring>

void *(*container_allocate)(size_t bytes) = malloc;

void pointer_list::init() {
    items = inline_slots;
    inline_slots[0] = nullptr;
    capacity = inline_capacity;
    count = 0;
}

int pointer_list::push(void *item) {
    if (count >= capacity) {
        if (capacity > INT32_MAX / 2)
            return 0;
        int32_t new_capacity = capacity * 2;
        void **grown =
            static_cast<void **>(container_allocate(size_t(new_capacity) * sizeof(void *)));
        if (grown == nullptr)
            return 0; // the caller learns; what was pushed so far stays
        memcpy(grown, items, size_t(count) * sizeof(void *));
        if (items != inline_slots)
            free(items);
        items = grown;
        capacity = new_capacity;
    }
    items[count++] = item;
    return 1;
}

void pointer_list::release() {
    if (items != nullptr && items != inline_slots)
        free(items);
    items = nullptr;
}
