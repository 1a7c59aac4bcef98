// Base64 (RFC 4648 alphabet, "=" padding, no line breaks) into and out of fixed_text.
#pragma once

#include <cstdint>

struct fixed_text;

// Appends the encoding of count bytes. 1 when all of it was appended and the final
// length is at most 5998; 0 otherwise (also for null data).
int base64_encode(fixed_text &destination, const unsigned char *data, int32_t count);
// As base64_encode with the text's own length.
int base64_encode_text(fixed_text &destination, const char *text);
// Decodes into a byte buffer of the given capacity. Stops at the first "=" or the end.
// Returns the number of bytes written, 0 on failure (empty input, buffer too small).
int32_t base64_decode(unsigned char *destination, int32_t capacity, const char *text);
// Decodes and appends the bytes (NUL bytes included). 1 when the final length is at most 5998.
int base64_decode_append(fixed_text &destination, const char *text);
