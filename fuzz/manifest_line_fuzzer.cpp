// Fuzz target: one manifest line, as the local file and the server's list both give them.
#include "fuzz/fuzz_support.h"
#include "updater/file_manifest.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_quiet_log();
    // The parser sees a NUL-terminated line; an embedded NUL simply ends it early.
    std::vector<char> line = fuzz_c_string(data, size);
    const char *context = (size > 0 && data[0] == 'N') ? nullptr : "downloaded data";
    manifest_entry *entry = reinterpret_cast<manifest_entry *>(1);
    int result = parse_manifest_line(context, line.data(), &entry);
    FUZZ_CHECK(result == 0 || result == 1);
    if (result == 0 || entry == nullptr) {
        FUZZ_CHECK(entry == nullptr);
        return 0;
    }
    // A record has a hash of at least ten lowercase hexadecimal digits and a name.
    FUZZ_CHECK(entry->hash != nullptr && entry->name != nullptr);
    FUZZ_CHECK(strlen(entry->hash) >= 10);
    for (int i = 0; i < 10; ++i)
        FUZZ_CHECK(strchr("0123456789abcdef", entry->hash[i]) != nullptr);
    FUZZ_CHECK(entry->name[0] != '\0' && entry->name[0] != ' ' && entry->name[0] != '\t');
    FUZZ_CHECK(entry->next == nullptr);
    free_manifest_entry(entry);
    return 0;
}
