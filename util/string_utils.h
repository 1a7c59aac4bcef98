// Word-oriented text helpers shared by every parser, and the owned-text pair dup/free.
#pragma once

#include <cstdint>

// Heap copy of a text (null for null); release it with free_string.
char *dup_string(const char *text);
// Frees *text and sets it to null; does nothing for a null address or pointer.
void free_string(char **text);

// Separators are space, tab and line feed. Returns the start of the next word, or null
// when no further word follows (or the text is empty). A null text is reported.
const char *next_arg(const char *text);
// Like next_arg, but only spaces separate and a line feed ends the text.
const char *next_arg_eol(const char *text);
// The last word of the text (the text itself when it has one word).
const char *last_arg(const char *text);

// 1 when the text starts with a digit, "+", or "-" and a digit; the leading decimal
// number (saturated to 32 bits) is stored in *value when given. 0 otherwise.
int parse_int(const char *text, int32_t *value);

// 1 when the first words of a and b are equal, ignoring ASCII case; 0 otherwise
// (and for any word of 400 or more characters).
int word_equals(const char *a, const char *b);
// 1 when the word equals any word of the space-separated list.
int word_in_list(const char *word, const char *list);
// The prefix's length when the text begins with it (ignoring case), else 0.
int word_prefix_length(const char *prefix, const char *text);

// Copies source into a destination of size bytes; cuts and reports when it does not fit.
// 1 on a whole copy, 0 on any failure.
int safe_strcpy(char *destination, const char *source, int32_t size);

// Adds the keyword to the front of a heap keyword list, or removes it when present;
// "NULL" deletes the list. Returns a status text (null on bad arguments).
const char *add_remove_keyword_line(const char *keyword, char **list);
