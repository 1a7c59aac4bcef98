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
// Like next_arg, but only spaces separate (tabs are word characters) and a line feed
// ends the text: null when a line feed or the end comes before the next word.
const char *next_arg_eol(const char *text);
// The last position next_arg reaches (the text itself when it has one word); null and a
// report for a null text.
const char *last_arg(const char *text);

// 1 when the text starts with a digit, "+", or "-" and a digit; the leading decimal
// number (saturated to 32 bits) is stored in *value when given. 0 otherwise.
int parse_int(const char *text, int32_t *value);

// 1 when the first words of a and b are equal, ignoring ASCII case; 0 otherwise
// (and for any word of 400 or more characters).
int word_equals(const char *a, const char *b);
// 1 when the word's first word equals the list text's first word or that of any position
// next_arg reaches in it (so a list starting with a blank hides its first word); else 0,
// also for a null word or list.
int word_in_list(const char *word, const char *list);
// The prefix word's length when the text begins with it (ignoring case; the text's
// separators are ordinary characters), else 0: also for null, an empty prefix or a prefix
// of 400 characters or more.
int word_prefix_length(const char *prefix, const char *text);

// Copies source into a destination of size bytes; cuts and reports when it does not fit.
// 1 on a whole copy, 0 on any failure.
int safe_strcpy(char *destination, const char *source, int32_t size);

// Adds the keyword to the front of a heap keyword list, or removes it when present;
// "NULL" deletes the list. list is the address of a heap text or of null; it is replaced.
// Returns a static status text: "Keyword added.", "Keyword removed.", "List deleted." or
// "List is already empty."; null (and a report) for a null keyword or address.
const char *add_remove_keyword_line(const char *keyword, char **list);
