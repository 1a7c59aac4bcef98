// Fuzz target: the line reader (and the other stream readers) with buffers of many sizes.
#include "fuzz/fuzz_support.h"
#include "util/stream_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_quiet_log();
    if (size < 3)
        return 0;
    // Control bytes: the reader and the buffer size (0 ... 2047).
    const int reader = data[0] % 4;
    const int32_t buffer_size = int32_t((data[1] | (data[2] << 8)) & 2047);
    std::vector<uint8_t> copy(data + 3, data + size);
    if (copy.empty())
        copy.push_back('\n');
    FILE *stream = fmemopen(copy.data(), copy.size(), "rb");
    if (stream == nullptr)
        return 0;
    for (int lines = 0; lines < 100000; ++lines) {
        if (reader == 0) {
            // Exactly the stated size, so a write past it is caught.
            std::vector<char> buffer(static_cast<size_t>(buffer_size));
            int32_t result = fget_line(stream, buffer_size ? buffer.data() : nullptr, buffer_size);
            if (result == 0)
                break;
            FUZZ_CHECK(result >= 1);
            if (buffer_size >= 1) {
                FUZZ_CHECK(result <= buffer_size);
                FUZZ_CHECK(int32_t(strnlen(buffer.data(), size_t(buffer_size))) == result - 1);
            }
        } else if (reader == 1) {
            std::vector<char> buffer(4201);
            int32_t result = fget_long(stream, buffer.data());
            FUZZ_CHECK(result >= 1 && result <= 4201);
            FUZZ_CHECK(int32_t(strlen(buffer.data())) == result - 1 || result == 4201);
            if (feof(stream))
                break;
        } else if (reader == 2) {
            int32_t values[12];
            int32_t count = fget_block(stream, values);
            FUZZ_CHECK(count >= 0 && count <= 12);
            if (feof(stream) || count == 0)
                break;
        } else {
            double values[12];
            int32_t count = fget_dblock(stream, values);
            FUZZ_CHECK(count >= 0 && count <= 12);
            if (feof(stream) || count == 0)
                break;
        }
    }
    fclose(stream);
    return 0;
}
