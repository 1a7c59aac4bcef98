// Line and block readers for the system's text files.
#pragma once

#include <cstdint>
#include <cstdio>

// Reads one line into buffer (size bytes, terminator included), dropping carriage
// returns; the line feed is consumed and not stored.
// Returns 0 at end of file before any character, otherwise stored characters + 1.
// A line that fills size - 1 characters is reported as an overflow; the rest stays
// in the stream and is read as the next line (one character is lost at the cut).
int32_t fget_line(FILE *stream, char *buffer, int32_t size);

// Reads a ';'-terminated text (the character after ';' is dropped) into a buffer
// of at least 4201 bytes. Returns stored characters + 1; 4201 on overflow.
int32_t fget_long(FILE *stream, char *buffer);

// Reads up to 12 numbers of one line; unread slots become 0. Returns the count read.
int32_t fget_block(FILE *stream, int32_t values[12]);
int32_t fget_dblock(FILE *stream, double values[12]);
