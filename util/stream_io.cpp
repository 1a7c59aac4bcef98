// Line and block readers: every text file of the system is read through fget_line.
#include "util/stream_io.h"

#include "client/debug_log.h"

static void report_overflow(const char *warning, const char *text) {
    report_message(warning, msg_runtime, module_runtime);
    report_message(text, msg_runtime, module_runtime);
}

int32_t fget_line(FILE *stream, char *buffer, int32_t size) {
    int c = fgetc(stream);
    if (c == EOF)
        return 0;
    static const char warning[] = "Warning in fget_line(), string overflow.  String was:";
    if (size < 2) {
        if (size > 0)
            buffer[0] = '\0';
        report_overflow(warning, "");
        return 1;
    }
    if (c == '\n' || c == '\0') {
        buffer[0] = '\0';
        return 1;
    }
    int32_t stored = 0;
    for (;;) {
        if (c != '\r')
            buffer[stored++] = char(c);
        c = fgetc(stream);
        if (stored >= size - 1) {
            buffer[stored] = '\0';
            report_overflow(warning, buffer);
            return stored + 1;
        }
        if (c == EOF || c == '\0' || c == '\n') {
            buffer[stored] = '\0';
            return stored + 1;
        }
    }
}

int32_t fget_long(FILE *stream, char *buffer) {
    constexpr int32_t limit = 4200;
    int32_t stored = 0;
    for (;;) {
        int c = fgetc(stream);
        if (c == EOF)
            break;
        if (c == ';' || c == '\0') {
            fgetc(stream);
            break;
        }
        buffer[stored++] = char(c);
        if (stored == limit) {
            buffer[stored] = '\0';
            report_overflow("Warning in fget_long(), string overflow.  String was:", buffer);
            return limit + 1;
        }
    }
    buffer[stored] = '\0';
    return stored + 1;
}

// The two block readers differ only in the value type and its conversion.
template <typename T>
static int32_t read_block(FILE *stream, T values[12], const char *conversion,
                          const char *eof_error) {
    int32_t count = 0;
    while (count < 12) {
        int c = fgetc(stream);
        if (c == '\n' || c == '\r')
            break;
        if (c != EOF)
            ungetc(c, stream);
        int r = fscanf(stream, conversion, &values[count]);
        if (r == EOF) {
            report_message(eof_error, msg_runtime, module_runtime);
            break;
        }
        if (r != 1)
            break;
        ++count;
    }
    if (count < 12) {
        for (int32_t i = count; i < 12; ++i)
            values[i] = 0;
    } else {
        for (int c = fgetc(stream); c != EOF && c != '\n' && c != '\0'; c = fgetc(stream)) {
        }
    }
    return count;
}

int32_t fget_block(FILE *stream, int32_t values[12]) {
    return read_block(stream, values, "%20d", "Error in fget_block(), EOF encountered.");
}

int32_t fget_dblock(FILE *stream, double values[12]) {
    return read_block(stream, values, "%20lf", "Error in fget_dblock(), EOF encountered.");
}
