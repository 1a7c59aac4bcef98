// The stack of open tags shared by the XML reader and writer.
#pragma once

// Names are cut at 999 characters; the field is sized for the longest name, but a node
// only allocates what its name needs, so deep hostile nesting costs little memory.
constexpr int tag_name_field_size = 1000;

struct tag_stack_entry {
    tag_stack_entry *next;
    char name[1]; // NUL-terminated, allocated to the name's length (at most 999 characters)
};

// Pushes a copy of name (cut at 999 characters) onto *top. 1 on success, 0 when out of memory.
int tag_stack_push(tag_stack_entry **top, const char *name);
// Unlinks the top entry and returns it (null for an empty stack); free it with tag_stack_free.
tag_stack_entry *tag_stack_take(tag_stack_entry **top);
void tag_stack_free(tag_stack_entry *entry);
// Frees every entry and leaves *top null.
void tag_stack_clear(tag_stack_entry **top);
