// pointer_list: an append-only array of pointers that lives inline for its first 64 items.
#pragma once

#include <cstddef>
#include <cstdint>

// The allocator both runtime containers grow with, replaceable so tests can make
// growth fail (malloc semantics).
extern void *(*container_allocate)(size_t bytes);

// Items are read directly as items[0] ... items[count - 1], in the order pushed.
// The list never owns what its pointers point to. Not copyable once items points at
// the inline slots: keep it in one place.
struct pointer_list {
    static constexpr int32_t inline_capacity = 64;

    void *inline_slots[inline_capacity];
    void **items;     // inline_slots, or a heap array once more than 64 were pushed
    int32_t capacity; // pointers that items can hold
    int32_t count;

    // Empty list on the inline slots; call before first use and after release().
    void init();
    // Appends a pointer (null allowed); past capacity the storage doubles onto the heap.
    // Returns 1 when appended, 0 when growing failed (the list is left unchanged).
    int push(void *item);
    // Frees a heap array if one is in use; items becomes null.
    void release();
};
