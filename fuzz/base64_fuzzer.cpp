// Fuzz target: Base64 decoding into buffers and texts, and the encode-decode round trip.
#include "client/fixed_text.h"
#include "fuzz/fuzz_support.h"
#include "util/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_quiet_log();
    if (size < 2)
        return 0;
    // Control bytes: the decode buffer's capacity and how full the text is already.
    const int32_t capacity = data[0];
    const int32_t prefill = int32_t(data[1]) * 24; // 0 ... 6120, past the capacity too
    std::vector<char> text = fuzz_c_string(data + 2, size - 2);

    // Into a buffer of exactly the capacity given.
    std::vector<unsigned char> buffer(static_cast<size_t>(capacity));
    int32_t written = base64_decode(capacity ? buffer.data() : nullptr, capacity, text.data());
    FUZZ_CHECK(written >= 0 && written <= capacity);

    // Appended to a text that may be nearly full.
    static fixed_text destination;
    destination.clear();
    for (int32_t i = 0; i < prefill; ++i)
        destination.append_char('x');
    int fits = base64_decode_append(destination, text.data());
    FUZZ_CHECK(destination.length >= 0 && destination.length <= fixed_text::capacity);
    FUZZ_CHECK(fits == (destination.length <= fixed_text::capacity - 2 ? 1 : 0));

    // Encoding the raw bytes and decoding the result gives them back.
    const unsigned char *raw = data + 2;
    const int32_t count = int32_t(size - 2);
    static fixed_text encoded;
    encoded.clear();
    if (base64_encode(encoded, raw, count) == 1) {
        std::vector<unsigned char> back(size_t(count) + 1);
        int32_t decoded = base64_decode(back.data(), count + 1, encoded.text);
        FUZZ_CHECK(decoded == count || count == 0);
        FUZZ_CHECK(memcmp(back.data(), raw, size_t(decoded)) == 0);
        static fixed_text appended;
        appended.clear();
        base64_decode_append(appended, encoded.text);
        FUZZ_CHECK(appended.length == count);
        FUZZ_CHECK(memcmp(appended.text, raw, size_t(count)) == 0);
    }
    return 0;
}
