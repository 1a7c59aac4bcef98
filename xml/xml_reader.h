// Pull reader for the runtime's XML configuration files: tags, simple texts, CDATA, skipping.
#pragma once

#include "xml/tag_stack.h"

#include <cstdint>
#include <cstdio>

// Reads the grammar the runtime's own writer produces: one element per line, printable
// ASCII text with the entities &lt; &gt; &amp;, and binary data as hexadecimal CDATA.
// Opening tags are pushed on a stack and closing tags checked against it. Malformed input
// is reported through report_message (module_xml) and reading goes on; nothing aborts.
class qorl_xml_reader {
  public:
    qorl_xml_reader() = default;
    qorl_xml_reader(const qorl_xml_reader &) = delete;
    qorl_xml_reader &operator=(const qorl_xml_reader &) = delete;

    // The next input byte as 0-255, or -1 at the end of input.
    virtual int read_byte() = 0;
    // Frees every tag still open.
    virtual ~qorl_xml_reader();

    // Reads the next tag into dest (size bytes, terminator included; longer tags are cut).
    // Text before the tag is ignored. Returns 1 for an opening tag, which is pushed with its
    // attributes and stored whole in dest (callers compare its first word). Returns 0 for a
    // closing tag (popped and checked), at the end of input, or on a malformed tag.
    int read_tag(char *dest, int32_t size);

    // Reads the text of the element just opened into dest (entities decoded), then its
    // closing tag. Returns 1 on success. Returns 0 on bad arguments, at the end of input, or
    // when the text holds bytes outside printable ASCII (tab and line feed included); the
    // element then stays open.
    int read_data(char *dest, int32_t size);
    // Reads the element's text as a decimal number (leading digits with an optional sign;
    // trailing characters are ignored) and its closing tag. Returns 1 and stores the value,
    // or 0 with *value untouched (a non-number is reported).
    int read_data(int32_t *value);

    // Reads the element's hexadecimal CDATA into dest, at most size bytes, then skips the
    // rest of the element. Returns the number of bytes decoded; 0 on error (no "<![CDATA["
    // header, which a size of 8 or less always gives, or the end of input).
    int32_t read_cdata(unsigned char *dest, int32_t size);

    // Skips the rest of the element just opened, nested elements included, up to and
    // including its closing tag.
    void skip_data();

    // The innermost open tag, or null when none is open.
    const tag_stack_entry *open_tags() const { return top; }

  protected:
    tag_stack_entry *top = nullptr;

  private:
    // Set by read_block when the input ran out before the block's bracket.
    bool block_hit_end = false;

    int skip_chunk();
    int skip_to_open_bracket();
    int read_block(char *dest, int32_t size, bool opening);
    void compact_string(char *text);
    void push_tag(const char *text);
    void pop_stack_entry(const char *text);
};

// Reads from a stdio stream positioned after the declaration line. The stream is the
// caller's: it is never opened or closed here. A null stream is reported and reads as empty.
class qorl_xml_file_reader : public qorl_xml_reader {
  public:
    explicit qorl_xml_file_reader(FILE *stream);
    ~qorl_xml_file_reader() override;
    int read_byte() override;

  private:
    FILE *file;
};

// Checks an XML declaration line (NUL-terminated, without its line feed): it must start
// with "<?xml" and carry both a quoted version and a quoted encoding, in either order.
// Returns 1 when acceptable, 0 otherwise (the reason is reported).
int check_xml_header_string(const char *line);
