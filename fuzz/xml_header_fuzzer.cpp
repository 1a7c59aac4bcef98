// Fuzz target: the check of an XML declaration line.
#include "fuzz/fuzz_support.h"
#include "xml/xml_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_quiet_log();
    std::vector<char> line = fuzz_c_string(data, size);
    int result = check_xml_header_string(line.data());
    FUZZ_CHECK(result == 0 || result == 1);
    return 0;
}
