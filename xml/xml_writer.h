// Indenting writer for the runtime's XML configuration files; the reader's counterpart.
#pragma once

#include "xml/tag_stack.h"

#include <cstdint>
#include <cstdio>

// Writes one element per line, indented two spaces per open element, with the entities
// &lt; &gt; &amp; in names and texts and binary data as hexadecimal CDATA. Closing tags
// come from the writer's own stack of open tags. Misuse is reported through
// report_message (module_xml); write errors are not detected except by write_header.
class qorl_xml_writer {
  public:
    qorl_xml_writer() = default;
    qorl_xml_writer(const qorl_xml_writer &) = delete;
    qorl_xml_writer &operator=(const qorl_xml_writer &) = delete;

    // Writes a NUL-terminated text unchanged; returns the characters written, negative on
    // error.
    virtual int write_raw(const char *text) = 0;
    // Frees every tag still open.
    virtual ~qorl_xml_writer();

    // Writes the declaration line; returns write_raw's result (0 or below is a failure).
    int write_header();
    // Writes text with "<", ">" and "&" as entities; a null text is reported.
    void write_string(const char *text);
    // Writes an indented opening tag for name and pushes name (cut at 999 characters).
    // line_feed: the element will hold child elements, so the tag ends its line; clear it
    // for a text element. attributes: written unchanged after a space, or null for none.
    void write_tag(const char *name, bool line_feed, const char *attributes = nullptr);
    // Closes the innermost open element with its own name. expected: the name the caller
    // means to close (a mismatch is reported), or null. indent: indent the closing tag
    // (for elements whose opening tag ended its line). With nothing open it writes
    // "</_BOGUS_ENDING_TAG_>" and reports it.
    void end_tag(const char *expected, bool indent);
    // Writes an indented self-closing element; the stack is unchanged.
    void write_empty_tag(const char *name, const char *attributes = nullptr);
    // Writes count bytes as CDATA in lower-case hexadecimal, 32 bytes per line.
    void write_cdata(const unsigned char *data, int32_t count);
    void write_newline();
    // Two spaces per open element.
    void write_indent();

    // Open elements (indentation depth); below 0 after closing more than was opened.
    int32_t get_depth() const { return depth; }

  protected:
    int32_t depth = 0;
    tag_stack_entry *top = nullptr;
};

// Writes to a stdio stream the caller opens, flushes and closes. A null stream is
// reported and every write then fails with -1.
class qorl_xml_file_writer : public qorl_xml_writer {
  public:
    explicit qorl_xml_file_writer(FILE *stream);
    ~qorl_xml_file_writer() override;
    int write_raw(const char *text) override;

  private:
    FILE *file;
};
