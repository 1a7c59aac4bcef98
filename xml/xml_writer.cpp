// XML writer: indentation from the open-element depth, closing names from its own stack.
#include "xml/xml_writer.h"

#include "client/debug_log.h"

#include <cstring>

namespace {

void report(const char *text, uint32_t category) {
    report_message(text, category, module_xml);
}

} // namespace

qorl_xml_writer::~qorl_xml_writer() {
    tag_stack_clear(&top);
}

int qorl_xml_writer::write_header() {
    return write_raw("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n");
}

void qorl_xml_writer::write_string(const char *text) {
    if (text == nullptr) {
        report("Error in qorl_xml_writer::write_string(), NULL data.\n", msg_usage);
        return;
    }
    // Runs without special characters go out in one piece.
    char run[256];
    size_t used = 0;
    for (const char *p = text;; ++p) {
        const char *entity = nullptr;
        if (*p == '<')
            entity = "&lt;";
        else if (*p == '>')
            entity = "&gt;";
        else if (*p == '&')
            entity = "&amp;";
        if (entity != nullptr || *p == '\0' || used == sizeof run - 1) {
            run[used] = '\0';
            if (used > 0)
                write_raw(run);
            used = 0;
        }
        if (*p == '\0')
            break;
        if (entity != nullptr)
            write_raw(entity);
        else
            run[used++] = *p;
    }
}

void qorl_xml_writer::write_indent() {
    for (int32_t i = 0; i < depth; ++i)
        write_raw("  ");
}

void qorl_xml_writer::write_tag(const char *name, bool line_feed, const char *attributes) {
    if (name == nullptr) {
        report("Error in qorl_xml_writer::write_tag(), NULL tag.\n", msg_usage);
        return;
    }
    tag_stack_push(&top, name);
    write_indent();
    write_raw("<");
    write_string(name);
    if (attributes != nullptr) {
        write_raw(" ");
        write_raw(attributes);
    }
    write_raw(line_feed ? ">\n" : ">");
    ++depth;
}

void qorl_xml_writer::end_tag(const char *expected, bool indent) {
    --depth;
    if (indent && depth > 0)
        write_indent();
    write_raw("</");
    tag_stack_entry *entry = tag_stack_take(&top);
    if (entry != nullptr) {
        if (expected != nullptr && strcmp(expected, entry->name) != 0)
            report("Warning in qorl_xml_writer::end_tag(), tried to close wrong tag.\n",
                   msg_input_format);
        write_string(entry->name);
        tag_stack_free(entry);
    } else {
        report("Error in qorl_xml_writer::end_tag(), tag stack empty.\n", msg_usage);
        write_raw("_BOGUS_ENDING_TAG_");
    }
    write_raw(">\n");
}

void qorl_xml_writer::write_empty_tag(const char *name, const char *attributes) {
    write_indent();
    write_raw("<");
    write_string(name);
    if (attributes != nullptr) {
        write_raw(" ");
        write_raw(attributes);
    }
    write_raw(" />\n");
}

void qorl_xml_writer::write_cdata(const unsigned char *data, int32_t count) {
    static const char digits[] = "0123456789abcdef";
    write_raw("<![CDATA[\n");
    if (data != nullptr && count > 0) {
        // One output line: 32 bytes as 64 digits, a line feed and the terminator.
        char line[32 * 2 + 2];
        int32_t used = 0;
        for (int32_t i = 0; i < count; ++i) {
            line[used++] = digits[data[i] >> 4];
            line[used++] = digits[data[i] & 0x0f];
            if ((i + 1) % 32 == 0 || i + 1 == count) {
                line[used++] = '\n';
                line[used] = '\0';
                write_raw(line);
                used = 0;
            }
        }
    }
    write_raw("]]>\n");
}

void qorl_xml_writer::write_newline() {
    write_raw("\n");
}

qorl_xml_file_writer::qorl_xml_file_writer(FILE *stream) : file(stream) {
    if (file == nullptr)
        report("Error in qorl_xml_file_writer::qorl_xml_file_writer(), NULL file handle.\n",
               msg_resource);
}

qorl_xml_file_writer::~qorl_xml_file_writer() {
    file = nullptr;
}

int qorl_xml_file_writer::write_raw(const char *text) {
    if (file == nullptr || text == nullptr)
        return -1;
    return fprintf(file, "%s", text);
}
