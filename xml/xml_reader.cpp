// XML pull reader: byte by byte through read_byte, one bracket pair or text run at a time.
#include "xml/xml_reader.h"

#include "client/debug_log.h"
#include "client/fixed_text.h"
#include "util/string_utils.h"

#include <cstring>

namespace {

void report(const char *text, uint32_t category) {
    report_message(text, category, module_xml);
}

// Composes head + inserted + tail in a fixed_text and reports it.
void report3(const char *head, const char *inserted, const char *tail, uint32_t category) {
    fixed_text message;
    message.clear();
    message.append(head);
    message.append(inserted);
    message.append(tail);
    report(message.text, category);
}

// The shared check of a destination buffer: reported as "Error in qorl_xml_reader::" +
// operation + ", NULL dest?" or ", dest is too small?".
bool destination_ok(const void *dest, int32_t size, const char *operation) {
    if (dest == nullptr || size <= 0) {
        report3("Error in qorl_xml_reader::", operation,
                dest == nullptr ? ", NULL dest?" : ", dest is too small?", msg_usage);
        return false;
    }
    return true;
}

bool printable(int c) {
    return c >= 0x20 && c <= 0x7e;
}

int hex_value(int c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

qorl_xml_reader::~qorl_xml_reader() {
    tag_stack_clear(&top);
}

// Consumes bytes through the next "<"; 0 when the input ends first.
int qorl_xml_reader::skip_to_open_bracket() {
    for (;;) {
        int c = read_byte();
        if (c < 0)
            return 0;
        if (c == '<')
            return 1;
    }
}

int qorl_xml_reader::skip_chunk() {
    for (;;) {
        int c = read_byte();
        if (c < 0)
            return 0;
        if (c == '<')
            return 1;
        if (c == '>')
            report("Warning in qorl_xml_reader::skip_chunk(), got closing bracket?",
                   msg_input_format);
    }
}

// Reads up to the next bracket; a tag must end with ">" and a text with "<". Blocks with
// bytes outside printable ASCII fail silently so that callers never see control bytes.
int qorl_xml_reader::read_block(char *dest, int32_t size, bool opening) {
    if (!destination_ok(dest, size, "read_block()"))
        return 0;
    int32_t stored = 0;
    int32_t unprintable = 0;
    block_hit_end = false;
    for (;;) {
        int c = read_byte();
        if (c < 0) {
            block_hit_end = true;
            report("Warning in qorl_xml_reader::read_block(), file corruption - got EOF before "
                   "trailing bracket.",
                   msg_input_format);
            dest[stored] = '\0';
            return 0;
        }
        if (c == '<' || c == '>') {
            if (opening && c == '<')
                report("Warning in qorl_xml_reader::read_block(), got second open bracket?",
                       msg_input_format);
            if (!opening && c == '>')
                report("Warning in qorl_xml_reader::read_block(), got second closing bracket?",
                       msg_input_format);
            break;
        }
        if (stored < size - 1) {
            dest[stored++] = char(c);
            if (!printable(c))
                ++unprintable;
        }
    }
    dest[stored] = '\0';
    if (unprintable > 0)
        return 0;
    compact_string(dest);
    return 1;
}

void qorl_xml_reader::compact_string(char *text) {
    static const struct {
        const char *entity;
        size_t length;
        char value;
    } entities[] = {{"&lt;", 4, '<'}, {"&gt;", 4, '>'}, {"&amp;", 5, '&'}};
    char *out = text;
    for (const char *in = text; *in != '\0';) {
        if (*in != '&') {
            *out++ = *in++;
            continue;
        }
        bool known = false;
        for (const auto &e : entities) {
            if (strncmp(in, e.entity, e.length) == 0) {
                *out++ = e.value;
                in += e.length;
                known = true;
                break;
            }
        }
        if (!known) {
            report("Warning in qorl_xml_reader::compact_string(), unknown '&' conversion found?",
                   msg_input_format);
            *out++ = *in++;
        }
    }
    *out = '\0';
}

void qorl_xml_reader::push_tag(const char *text) {
    tag_stack_push(&top, text);
}

void qorl_xml_reader::pop_stack_entry(const char *text) {
    const char *name = text;
    bool reported = false;
    if (text[0] == '/') {
        name = text + 1;
    } else {
        report3("Warning in qorl_xml_reader::pop_stack_entry() - got bad closing tag '", text, "'?",
                msg_input_format);
        reported = true;
    }
    // A closing tag with nothing open closes nothing: it is reported and dropped.
    if (top == nullptr) {
        if (!reported)
            report3("Warning in qorl_xml_reader::pop_stack_entry() - got bad closing tag '", text,
                    "'?", msg_input_format);
        return;
    }
    tag_stack_entry *entry = tag_stack_take(&top);
    if (strcmp(entry->name, name) != 0) {
        fixed_text message;
        message.clear();
        message.append("Warning in qorl_xml_reader::pop_stack_entry() - popped tag '");
        message.append(name);
        message.append("' did not match expected tag '");
        message.append(entry->name);
        message.append("'.");
        report(message.text, msg_input_format);
    }
    tag_stack_free(entry);
}

int qorl_xml_reader::read_tag(char *dest, int32_t size) {
    if (!destination_ok(dest, size, "read_tag()"))
        return 0;
    if (!skip_to_open_bracket())
        return 0;
    if (!read_block(dest, size, true))
        return 0;
    if (dest[0] != '/') {
        push_tag(dest);
        return 1;
    }
    pop_stack_entry(dest);
    return 0;
}

int qorl_xml_reader::read_data(char *dest, int32_t size) {
    if (!destination_ok(dest, size, "read_data(char[])"))
        return 0;
    if (!read_block(dest, size, false))
        return 0;
    char closing[tag_name_field_size];
    read_block(closing, sizeof closing, true);
    pop_stack_entry(closing);
    return 1;
}

int qorl_xml_reader::read_data(int32_t *value) {
    if (value == nullptr) {
        report("Error in qorl_xml_reader::read_data(int), NULL dest?", msg_usage);
        return 0;
    }
    char buffer[100];
    if (!read_block(buffer, sizeof buffer, false))
        return 0;
    int32_t parsed = 0;
    int result = parse_int(buffer, &parsed);
    if (result)
        *value = parsed;
    else
        report3("Warning in qorl_xml_reader::read_data(int) - got non-number'", buffer, "'.",
                msg_input_format);
    read_block(buffer, sizeof buffer, true);
    pop_stack_entry(buffer);
    return result;
}

void qorl_xml_reader::skip_data() {
    if (top == nullptr) {
        report("Error in qorl_xml_reader::skip_data() - you must read at least the opening tag "
               "before skipping data.",
               msg_usage);
        return;
    }
    // Only the top entry is ever popped, so the skipped element stays on the stack (at
    // this address) until its own closing tag is met.
    const tag_stack_entry *skipped = top;
    char block[tag_name_field_size];
    for (;;) {
        if (!skip_chunk()) {
            report("Warning in qorl_xml_reader::skip_data() - unable to read chunk?",
                   msg_input_format);
            return;
        }
        // Comments and CDATA may hold line feeds; they are skipped whatever their content.
        bool read = read_block(block, sizeof block, true);
        if (!read && !block_hit_end && block[0] == '!')
            continue;
        if (!read) {
            report("Warning in qorl_xml_reader::skip_data() - unable to read block?",
                   msg_input_format);
            return;
        }
        if (block[0] == '!')
            continue;
        if (block[0] == '/') {
            bool done = top == skipped;
            pop_stack_entry(block);
            if (done)
                return;
            continue;
        }
        push_tag(block);
    }
}

int32_t qorl_xml_reader::read_cdata(unsigned char *dest, int32_t size) {
    if (!destination_ok(dest, size, "read_cdata()"))
        return 0;
    if (!skip_to_open_bracket())
        return 0;
    static const char header[] = "![CDATA[";
    const int32_t header_length = 8;
    int32_t wanted = size - 1 < header_length ? size - 1 : header_length;
    for (int32_t i = 0; i < wanted; ++i) {
        int c = read_byte();
        if (c < 0)
            return 0;
        dest[i] = (unsigned char)c;
    }
    if (wanted < header_length || memcmp(dest, header, header_length) != 0) {
        report("Warning in qorl_xml_reader::read_cdata(), did not get ![CDATA[ header.",
               msg_input_format);
        return 0;
    }
    int32_t stored = 0;
    int high = -1; // first nibble of the byte being decoded, or -1
    while (stored < size) {
        int c = read_byte();
        if (c < 0)
            return 0;
        if (c == '<' || c == '>')
            break;
        int nibble = hex_value(c);
        if (nibble < 0)
            continue;
        if (high < 0) {
            high = nibble;
        } else {
            dest[stored++] = (unsigned char)((high << 4) | nibble);
            high = -1;
        }
    }
    skip_data();
    return stored;
}

qorl_xml_file_reader::qorl_xml_file_reader(FILE *stream) : file(stream) {
    if (file == nullptr)
        report("Error in qorl_xml_file_reader::qorl_xml_file_reader(), NULL file handle.",
               msg_resource);
}

qorl_xml_file_reader::~qorl_xml_file_reader() {
    file = nullptr;
}

int qorl_xml_file_reader::read_byte() {
    if (file == nullptr)
        return -1;
    int c = fgetc(file);
    return c == EOF ? -1 : c;
}

namespace {

const char *skip_spaces(const char *p) {
    while (*p == ' ')
        ++p;
    return p;
}

// One attribute of the declaration: name, "=", and a double-quoted value. Returns the
// position after the value and its trailing spaces, or null (reported) when malformed.
const char *check_header_attribute(const char *p, const char *name) {
    p = skip_spaces(p + strlen(name));
    fixed_text message;
    message.clear();
    message.append("Warning in qorl_xml_reader::check_xml_header_string(), '");
    message.append(name);
    message.append("' tag found, but no ");
    if (*p != '=') {
        message.append(name);
        message.append(".");
        report(message.text, msg_protocol);
        return nullptr;
    }
    p = skip_spaces(p + 1);
    if (*p != '"') {
        message.append("opening ");
        message.append(name);
        message.append(" quote.");
        report(message.text, msg_protocol);
        return nullptr;
    }
    const char *closing = strchr(p + 1, '"');
    if (closing == nullptr) {
        message.append("closing ");
        message.append(name);
        message.append(" quote.");
        report(message.text, msg_protocol);
        return nullptr;
    }
    return skip_spaces(closing + 1);
}

} // namespace

int check_xml_header_string(const char *line) {
    if (line == nullptr || !word_equals(line, "<?xml")) {
        report("Warning in qorl_xml_reader::check_xml_header_string(), missing opening '<?xml' "
               "tag.",
               msg_protocol);
        return 0;
    }
    const char *p = next_arg(line);
    if (p == nullptr) {
        report("Warning in qorl_xml_reader::check_xml_header_string(), didn't get either version "
               "or encoding.",
               msg_protocol);
        return 0;
    }
    bool version = false;
    bool encoding = false;
    for (;;) {
        if (strncmp(p, "version", 7) == 0) {
            p = check_header_attribute(p, "version");
            version = true;
        } else if (strncmp(p, "encoding", 8) == 0) {
            p = check_header_attribute(p, "encoding");
            encoding = true;
        } else {
            report("Warning in qorl_xml_reader::check_xml_header_string(), unknown tag found.",
                   msg_protocol);
            return 0;
        }
        if (p == nullptr)
            return 0;
        if (*p == '\0' || strncmp(p, "?>", 2) == 0)
            break;
    }
    if (version && encoding)
        return 1;
    if (version)
        report("Warning in qorl_xml_reader::check_xml_header_string(), didn't get encoding.",
               msg_protocol);
    else
        report("Warning in qorl_xml_reader::check_xml_header_string(), didn't get version.",
               msg_protocol);
    return 0;
}
