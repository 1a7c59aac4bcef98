// Command-line handling: argument conversion to printable ASCII and the option table.
#pragma once

#include <cstdint>

struct fixed_text;

// Decodes one UTF-8 sequence at *position (bytes taken as unsigned, no overlong or
// surrogate checks). Returns false at the terminating NUL; otherwise stores the value
// and advances *position by the bytes used.
bool utf8_next_char(const unsigned char **position, uint32_t *value);

// Appends a UTF-8 text as printable ASCII: values above 126, and control characters
// other than tab, line feed and carriage return, become '.'. Cut at 5999 characters.
void convert_utf8_argument(const char *utf8, fixed_text &destination);

// Called from main() before the toolkit sees the arguments. The toolkit silently drops an
// argument that the locale's encoding cannot represent (invalid UTF-8 in a UTF-8 locale);
// each such argument is replaced, in place, by its printable-ASCII conversion, so it is
// still logged and matched. Other arguments are left as they are. The replacement texts
// live until the process ends.
void make_arguments_convertible(int argc, char **argv);

// Acts on every argument in order (index 0 is the program name). Exits with 0
// after "-h" and with 1 on an unknown option.
void process_command_line(int argc, const char *const *utf8_argv);
