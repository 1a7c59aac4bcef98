// Fuzz target: the XML reader driven as the launcher's configuration loader drives it.
#include "fuzz/fuzz_support.h"
#include "util/stream_io.h"
#include "util/string_utils.h"
#include "xml/xml_reader.h"
#include "xml/xml_writer.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

// What the loader found: the launcher_version text and beta_test_enable value.
struct loaded_config {
    std::string version;
    bool have_version = false;
    int32_t beta = -1;
};

// The loader's loop: declaration line, then "launcher_config" and its children, any other
// element skipped whole.
void read_like_the_loader(FILE *file, loaded_config &found) {
    char line[1000];
    if (fget_line(file, line, sizeof line) == 0)
        line[0] = '\0';
    if (!check_xml_header_string(line))
        return;
    qorl_xml_file_reader reader(file);
    char tag[1000];
    while (reader.read_tag(tag, sizeof tag)) {
        FUZZ_CHECK(strlen(tag) < sizeof tag);
        if (!word_equals(tag, "launcher_config")) {
            reader.skip_data();
            continue;
        }
        while (reader.read_tag(tag, sizeof tag)) {
            if (word_equals(tag, "launcher_version")) {
                char version[1000];
                version[0] = '\0';
                reader.read_data(version, sizeof version);
                FUZZ_CHECK(strlen(version) < sizeof version);
                found.version = version;
                found.have_version = true;
            } else if (word_equals(tag, "beta_test_enable")) {
                int32_t value = 0;
                if (reader.read_data(&value))
                    found.beta = value;
            } else {
                reader.skip_data();
            }
        }
    }
}

// Every reading operation, chosen by the element's name, with buffers of exact sizes.
void read_every_way(FILE *file, uint8_t sizes) {
    qorl_xml_file_reader reader(file);
    const int32_t tag_size = 1 + sizes % 40;
    const int32_t data_size = 1 + sizes / 8;
    for (int rounds = 0; rounds < 4096; ++rounds) {
        std::vector<char> tag(static_cast<size_t>(tag_size));
        if (!reader.read_tag(tag.data(), tag_size)) {
            if (feof(file))
                break;
            continue;
        }
        FUZZ_CHECK(strlen(tag.data()) < size_t(tag_size));
        switch (unsigned(tag[0]) % 5) {
        case 0: {
            std::vector<char> text(static_cast<size_t>(data_size));
            if (reader.read_data(text.data(), data_size))
                FUZZ_CHECK(strlen(text.data()) < size_t(data_size));
            break;
        }
        case 1: {
            int32_t value = 0;
            reader.read_data(&value);
            break;
        }
        case 2: {
            std::vector<unsigned char> bytes(static_cast<size_t>(data_size));
            int32_t n = reader.read_cdata(bytes.data(), data_size);
            FUZZ_CHECK(n >= 0 && n <= data_size);
            break;
        }
        case 3:
            reader.skip_data();
            break;
        default:
            break; // descend into the element
        }
    }
}

// The saver's output for a version text and a mode, read back by the loader's loop.
void write_then_read(const std::string &version, int32_t beta) {
    char *written = nullptr;
    size_t length = 0;
    FILE *out = open_memstream(&written, &length);
    if (out == nullptr)
        return;
    {
        qorl_xml_file_writer writer(out);
        FUZZ_CHECK(writer.write_header() > 0);
        writer.write_tag("launcher_config", true);
        writer.write_tag("launcher_version", false);
        writer.write_string(version.c_str());
        writer.end_tag(nullptr, false);
        writer.write_tag("beta_test_enable", false);
        writer.write_string(std::to_string(beta).c_str());
        writer.end_tag(nullptr, false);
        writer.end_tag(nullptr, true);
        writer.write_newline();
    }
    fclose(out);
    FILE *in = fmemopen(written, length, "rb");
    loaded_config found;
    if (in != nullptr) {
        read_like_the_loader(in, found);
        fclose(in);
    }
    free(written);
    if (in == nullptr)
        return;
    // Printable text that fits the loader's buffer once written with entities comes back
    // as it was; so does the mode.
    size_t escaped = 0;
    bool printable = true;
    for (char c : version) {
        escaped += c == '&' ? 5 : (c == '<' || c == '>') ? 4 : 1;
        printable = printable && c >= 0x20 && c <= 0x7e;
    }
    FUZZ_CHECK(found.beta == beta);
    if (printable && escaped < 1000) {
        FUZZ_CHECK(found.have_version);
        FUZZ_CHECK_SAME(found.version, version);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_quiet_log();
    if (size < 2)
        return 0;
    // The stream reads from a private copy, so a read past the input is caught.
    std::vector<uint8_t> copy(data + 1, data + size);
    FILE *file = fmemopen(copy.data(), copy.size(), "rb");
    if (file == nullptr)
        return 0;
    if ((data[0] & 3) == 3) {
        fclose(file);
        std::vector<char> text = fuzz_c_string(data + 1, size - 1);
        int32_t beta = int32_t(data[0]) - 128;
        write_then_read(text.data(), beta);
        return 0;
    }
    loaded_config found;
    if (data[0] & 1)
        read_like_the_loader(file, found);
    else
        read_every_way(file, data[0]);
    fclose(file);
    return 0;
}
