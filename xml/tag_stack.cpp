// The open-tag stack: heap nodes cut at 999 characters, freed by whoever owns the stack.
#include "xml/tag_stack.h"

#include <cstdlib>
#include <cstring>

int tag_stack_push(tag_stack_entry **top, const char *name) {
    if (name == nullptr)
        name = "";
    size_t length = strnlen(name, tag_name_field_size - 1);
    auto *entry = static_cast<tag_stack_entry *>(malloc(sizeof(tag_stack_entry) + length));
    if (entry == nullptr)
        return 0;
    memcpy(entry->name, name, length);
    entry->name[length] = '\0';
    entry->next = *top;
    *top = entry;
    return 1;
}

tag_stack_entry *tag_stack_take(tag_stack_entry **top) {
    tag_stack_entry *entry = *top;
    if (entry != nullptr)
        *top = entry->next;
    return entry;
}

void tag_stack_free(tag_stack_entry *entry) {
    free(entry);
}

void tag_stack_clear(tag_stack_entry **top) {
    while (*top != nullptr)
        tag_stack_free(tag_stack_take(top));
}
