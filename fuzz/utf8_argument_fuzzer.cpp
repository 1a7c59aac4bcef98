// Fuzz target: the UTF-8 decoder and the conversion of command-line arguments.
#include "client/fixed_text.h"
#include "fuzz/fuzz_support.h"
#include "launcher/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_quiet_log();
    std::vector<char> text = fuzz_c_string(data, size);
    const unsigned char *start = reinterpret_cast<const unsigned char *>(text.data());
    const unsigned char *end = start + strlen(text.data());

    // Every call moves forward by one to four bytes and never past the terminator.
    const unsigned char *p = start;
    uint32_t value;
    int32_t characters = 0;
    while (utf8_next_char(&p, &value)) {
        FUZZ_CHECK(p <= end);
        FUZZ_CHECK(value < (1u << 21));
        ++characters;
    }
    FUZZ_CHECK(p == end);
    FUZZ_CHECK(characters <= end - start);

    // The conversion is printable ASCII (tab, line feed and carriage return kept), one
    // character per decoded value, cut at 5999.
    static fixed_text converted;
    converted.clear();
    convert_utf8_argument(text.data(), converted);
    FUZZ_CHECK(converted.length <= fixed_text::capacity - 1);
    FUZZ_CHECK(converted.length <= characters);
    for (int32_t i = 0; i < converted.length; ++i) {
        unsigned char c = static_cast<unsigned char>(converted.text[i]);
        FUZZ_CHECK((c >= 32 && c <= 126) || c == '\t' || c == '\n' || c == '\r');
    }
    FUZZ_CHECK(converted.text[converted.length] == '\0');
    return 0;
}
