// Base64 encoder and decoders; characters outside the alphabet decode as 0.
#include "util/base64.h"

#include "client/fixed_text.h"

#include <cstring>

namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

char encode_value(unsigned v) {
    return v < 64 ? alphabet[v] : '=';
}

unsigned decode_value(char c) {
    if (c >= 'A' && c <= 'Z')
        return unsigned(c - 'A');
    if (c >= 'a' && c <= 'z')
        return unsigned(c - 'a') + 26;
    if (c >= '0' && c <= '9')
        return unsigned(c - '0') + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return 0;
}

// Base64 output and decoded bytes share append_char's bound: nothing past length 5998.
void put(fixed_text &t, char c) {
    t.append_char(c);
}

int fits(const fixed_text &t) {
    return t.length <= fixed_text::capacity - 2 ? 1 : 0;
}

// Feeds each decoded byte to emit(). Before each character, room() is asked whether
// decoding may go on; returns false when it said no.
template <typename Room, typename Emit> bool decode_each(const char *text, Room room, Emit emit) {
    unsigned accumulator = 0;
    int position = 0;
    for (const char *p = text; *p != '\0' && *p != '='; ++p) {
        if (!room())
            return false;
        accumulator = (accumulator << 6) | decode_value(*p);
        ++position;
        if (position == 2)
            emit((unsigned char)((accumulator >> 4) & 0xff));
        else if (position == 3)
            emit((unsigned char)((accumulator >> 2) & 0xff));
        else if (position == 4) {
            emit((unsigned char)(accumulator & 0xff));
            position = 0;
            accumulator = 0;
        }
    }
    return true;
}

} // namespace

int base64_encode(fixed_text &destination, const unsigned char *data, int32_t count) {
    if (data == nullptr)
        return 0;
    int32_t i = 0;
    for (; i + 2 < count; i += 3) {
        put(destination, encode_value(data[i] >> 2));
        put(destination, encode_value(((data[i] & 0x03) << 4) | (data[i + 1] >> 4)));
        put(destination, encode_value(((data[i + 1] & 0x0f) << 2) | (data[i + 2] >> 6)));
        put(destination, encode_value(data[i + 2] & 0x3f));
    }
    int32_t left = count - i;
    if (left == 1) {
        put(destination, encode_value(data[i] >> 2));
        put(destination, encode_value((data[i] & 0x03) << 4));
        put(destination, '=');
        put(destination, '=');
    } else if (left == 2) {
        put(destination, encode_value(data[i] >> 2));
        put(destination, encode_value(((data[i] & 0x03) << 4) | (data[i + 1] >> 4)));
        put(destination, encode_value((data[i + 1] & 0x0f) << 2));
        put(destination, '=');
    }
    return fits(destination);
}

int base64_encode_text(fixed_text &destination, const char *text) {
    if (text == nullptr)
        return 0;
    return base64_encode(destination, reinterpret_cast<const unsigned char *>(text),
                         int32_t(strlen(text)));
}

int32_t base64_decode(unsigned char *destination, int32_t capacity, const char *text) {
    if (text == nullptr || text[0] == '\0' || capacity <= 0 || destination == nullptr)
        return 0;
    int32_t written = 0;
    bool ok = decode_each(
        text, [&] { return written < capacity; },
        [&](unsigned char b) {
            if (written < capacity)
                destination[written++] = b;
        });
    return ok ? written : 0;
}

int base64_decode_append(fixed_text &destination, const char *text) {
    if (text == nullptr)
        return 0;
    decode_each(
        text, [] { return true; }, [&](unsigned char b) { put(destination, char(b)); });
    return fits(destination);
}
