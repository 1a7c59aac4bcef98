// XML reader and writer: round trips, the writer's exact shape, malformed input and its reports.
#include "client/debug_log.h"
#include "xml/xml_reader.h"
#include "xml/xml_writer.h"

#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const char log_path[] = "/tmp/xml_test_log.txt";

// Every test sees only the messages reported since it started.
class Xml : public ::testing::Test {
  protected:
    void SetUp() override {
        static bool log_chosen = false;
        if (!log_chosen) {
            qorl_client_set_debug_logfile_name(log_path);
            log_chosen = true;
        }
        log_start = read_file(log_path).size();
    }
    std::string new_log() const { return read_file(log_path).substr(log_start); }

    size_t log_start = 0;
};

// A reader over an in-memory text.
struct text_source {
    explicit text_source(const std::string &text) : content(text) {
        file = content.empty() ? fopen("/dev/null", "rb")
                               : fmemopen(&content[0], content.size(), "rb");
        reader = new qorl_xml_file_reader(file);
    }
    ~text_source() {
        delete reader;
        fclose(file);
    }
    std::string content;
    FILE *file;
    qorl_xml_file_reader *reader;
};

// A writer into memory; text() has everything written so far.
struct text_sink {
    text_sink() {
        file = open_memstream(&buffer, &size);
        writer = new qorl_xml_file_writer(file);
    }
    ~text_sink() {
        delete writer;
        fclose(file);
        free(buffer);
    }
    std::string text() {
        fflush(file);
        return std::string(buffer, size);
    }
    char *buffer = nullptr;
    size_t size = 0;
    FILE *file;
    qorl_xml_file_writer *writer;
};

TEST_F(Xml, WriterShapeIndentsNestedElements) {
    text_sink out;
    qorl_xml_file_writer &w = *out.writer;
    EXPECT_GT(w.write_header(), 0);
    w.write_tag("root", true);
    w.write_tag("name", false);
    w.write_string("x&y");
    w.end_tag("name", false);
    w.write_tag("group", true, "kind=\"a\"");
    w.write_tag("leaf", false);
    w.write_string("v");
    w.end_tag(nullptr, false);
    w.write_empty_tag("marker", "on=\"1\"");
    w.end_tag("group", true);
    w.end_tag("root", true);
    w.write_newline();
    EXPECT_EQ(out.text(), "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
                          "<root>\n"
                          "  <name>x&amp;y</name>\n"
                          "  <group kind=\"a\">\n"
                          "    <leaf>v</leaf>\n"
                          "    <marker on=\"1\" />\n"
                          "  </group>\n"
                          "</root>\n"
                          "\n");
    EXPECT_EQ(w.get_depth(), 0);
    EXPECT_EQ(new_log(), "");
}

TEST_F(Xml, WriterMisuseIsReportedAndStaysBalanced) {
    text_sink out;
    qorl_xml_file_writer &w = *out.writer;
    w.write_tag("a", true);
    w.end_tag("b", true); // wrong expected name: the open tag is closed all the same
    w.end_tag(nullptr, true);
    w.write_tag("c", false); // depth is -1: no indentation
    w.write_string(nullptr);
    w.write_tag(nullptr, false);
    EXPECT_EQ(out.text(), "<a>\n</a>\n</_BOGUS_ENDING_TAG_>\n<c>");
    EXPECT_EQ(w.get_depth(), 0);
    std::string log = new_log();
    EXPECT_NE(log.find("Warning in qorl_xml_writer::end_tag(), tried to close wrong tag.\n"),
              std::string::npos);
    EXPECT_NE(log.find("Error in qorl_xml_writer::end_tag(), tag stack empty.\n"),
              std::string::npos);
    EXPECT_NE(log.find("Error in qorl_xml_writer::write_string(), NULL data.\n"),
              std::string::npos);
    EXPECT_NE(log.find("Error in qorl_xml_writer::write_tag(), NULL tag.\n"), std::string::npos);
}

TEST_F(Xml, NullStreamsAreReportedAndHarmless) {
    {
        qorl_xml_file_writer w(nullptr);
        EXPECT_LT(w.write_header(), 0);
        w.write_tag("a", false);
        w.end_tag("a", false);
    }
    qorl_xml_file_reader r(nullptr);
    char tag[100];
    EXPECT_EQ(r.read_tag(tag, sizeof tag), 0);
    std::string log = new_log();
    EXPECT_NE(log.find("Error in qorl_xml_file_writer::qorl_xml_file_writer(), NULL file handle."),
              std::string::npos);
    EXPECT_NE(log.find("Error in qorl_xml_file_reader::qorl_xml_file_reader(), NULL file handle."),
              std::string::npos);
}

TEST_F(Xml, RoundTripOfSpecialCharactersInNamesAndTexts) {
    const char *names[] = {"plain", "a<b>&c", "&amp;"};
    const char *texts[] = {"",       "plain text",     "a<b", "x > y & z", "&amp; stays literal",
                           "<<>>&&", "quotes \" and '"};
    for (const char *name : names) {
        for (const char *text : texts) {
            SCOPED_TRACE(std::string(name) + " / " + text);
            text_sink out;
            out.writer->write_tag("root", true);
            out.writer->write_tag(name, false);
            out.writer->write_string(text);
            out.writer->end_tag(name, false);
            out.writer->end_tag("root", true);

            text_source in(out.text());
            char tag[1000], data[1000];
            ASSERT_EQ(in.reader->read_tag(tag, sizeof tag), 1);
            EXPECT_STREQ(tag, "root");
            ASSERT_EQ(in.reader->read_tag(tag, sizeof tag), 1);
            EXPECT_STREQ(tag, name);
            ASSERT_EQ(in.reader->read_data(data, sizeof data), 1);
            EXPECT_STREQ(data, text);
            EXPECT_EQ(in.reader->read_tag(tag, sizeof tag), 0); // closing root
            EXPECT_EQ(in.reader->open_tags(), nullptr);
            EXPECT_EQ(in.reader->read_tag(tag, sizeof tag), 0); // end of input
        }
    }
    EXPECT_EQ(new_log(), "");
}

TEST_F(Xml, MismatchedClosingTagIsPoppedWithWarning) {
    text_source in("<a>text</b>");
    char tag[100], data[100];
    ASSERT_EQ(in.reader->read_tag(tag, sizeof tag), 1);
    EXPECT_EQ(in.reader->read_data(data, sizeof data), 1);
    EXPECT_STREQ(data, "text");
    EXPECT_EQ(in.reader->open_tags(), nullptr);
    EXPECT_NE(new_log().find("Warning in qorl_xml_reader::pop_stack_entry() - popped tag 'b' did "
                             "not match expected tag 'a'.\n"),
              std::string::npos);
}

TEST_F(Xml, ClosingTagsWithNothingOpenPopNothing) {
    struct row {
        const char *input;
        int opened;
        const char *report;
    };
    const row rows[] = {
        // A stray closing tag before anything is open.
        {"</x><a>1</a>", 1, "got bad closing tag '/x'?"},
        // More closing tags than opening ones.
        {"<a>1</a></a></z><a>1</a>", 2, "got bad closing tag '/z'?"},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.input);
        size_t start = read_file(log_path).size();
        text_source in(r.input);
        char tag[100];
        int opened = 0;
        for (int i = 0; i < 10; ++i) {
            if (in.reader->read_tag(tag, sizeof tag)) {
                ++opened;
                int32_t value = 0;
                EXPECT_EQ(in.reader->read_data(&value), 1);
                EXPECT_EQ(value, 1);
            }
        }
        EXPECT_EQ(opened, r.opened);
        EXPECT_EQ(in.reader->open_tags(), nullptr);
        EXPECT_NE(read_file(log_path).substr(start).find(r.report), std::string::npos);
    }
}

TEST_F(Xml, ClosingTagWithoutSlashIsReported) {
    text_source in("<a>text<a>");
    char tag[100], data[100];
    ASSERT_EQ(in.reader->read_tag(tag, sizeof tag), 1);
    EXPECT_EQ(in.reader->read_data(data, sizeof data), 1);
    EXPECT_EQ(in.reader->open_tags(), nullptr);
    EXPECT_NE(new_log().find("got bad closing tag 'a'?"), std::string::npos);
}

TEST_F(Xml, ControlBytesInTextFailAndLeaveElementOpen) {
    const char *inputs[] = {"<a>x\ty</a>", "<a>x\ny</a>", "<a>caf\xe9</a>", "<a>\x7f</a>"};
    for (const char *input : inputs) {
        SCOPED_TRACE(input);
        text_source in(input);
        char tag[100], data[100];
        ASSERT_EQ(in.reader->read_tag(tag, sizeof tag), 1);
        EXPECT_EQ(in.reader->read_data(data, sizeof data), 0);
        ASSERT_NE(in.reader->open_tags(), nullptr);
        EXPECT_STREQ(in.reader->open_tags()->name, "a");
    }
}

TEST_F(Xml, IntegerData) {
    struct row {
        const char *text;
        int result;
        int32_t value;
    };
    const row rows[] = {
        {"42", 1, 42},  {"-7", 1, -7},
        {"+5", 1, 5},   {"12abc", 1, 12},
        {"0x10", 1, 0}, {"abc", 0, -1},
        {"-x", 0, -1},  {"", 0, -1},
        {" 3", 0, -1},  {"99999999999", 1, INT32_MAX},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.text);
        size_t start = read_file(log_path).size();
        text_source in(std::string("<n>") + r.text + "</n>");
        char tag[100];
        ASSERT_EQ(in.reader->read_tag(tag, sizeof tag), 1);
        int32_t value = -1;
        EXPECT_EQ(in.reader->read_data(&value), r.result);
        EXPECT_EQ(value, r.value);
        EXPECT_EQ(in.reader->open_tags(), nullptr);
        std::string warning = std::string("got non-number'") + r.text + "'.";
        EXPECT_EQ(read_file(log_path).substr(start).find(warning) != std::string::npos,
                  r.result == 0);
    }
}

TEST_F(Xml, EntitiesDecodeAndUnknownOnesAreKept) {
    text_source in("<a>&lt;&gt;&amp;&quot;&#65;&</a>");
    char tag[100], data[100];
    ASSERT_EQ(in.reader->read_tag(tag, sizeof tag), 1);
    ASSERT_EQ(in.reader->read_data(data, sizeof data), 1);
    EXPECT_STREQ(data, "<>&&quot;&#65;&");
    std::string log = new_log();
    EXPECT_NE(log.find("unknown '&' conversion found?"), std::string::npos);
}

TEST_F(Xml, CdataRoundTrip) {
    for (int32_t count : {0, 1, 31, 32, 33, 64, 100}) {
        SCOPED_TRACE(count);
        std::vector<unsigned char> bytes(static_cast<size_t>(count));
        for (int32_t i = 0; i < count; ++i)
            bytes[size_t(i)] = (unsigned char)(i * 37 + 200);
        text_sink out;
        out.writer->write_tag("blob", true);
        out.writer->write_cdata(bytes.data(), count);
        out.writer->end_tag("blob", true);

        // The digits: 32 bytes per line, and no empty data line.
        std::string text = out.text();
        std::string data = text.substr(strlen("<blob>\n<![CDATA[\n"));
        data = data.substr(0, data.find("]]>"));
        int lines = 0;
        for (size_t at = 0; at < data.size(); at = data.find('\n', at) + 1) {
            size_t end = data.find('\n', at);
            ASSERT_NE(end, std::string::npos);
            EXPECT_EQ(end - at, size_t(std::min(64, 2 * (count - 32 * lines))));
            ++lines;
        }
        EXPECT_EQ(lines, (count + 31) / 32);

        for (int32_t room : {count + 10, std::max(count, 1)}) {
            text_source in(text);
            char tag[100];
            ASSERT_EQ(in.reader->read_tag(tag, sizeof tag), 1);
            std::vector<unsigned char> back(size_t(room) + 9);
            EXPECT_EQ(in.reader->read_cdata(back.data(), std::max(room, 9)), count);
            back.resize(size_t(count));
            EXPECT_EQ(back, bytes);
            EXPECT_EQ(in.reader->open_tags(), nullptr);
        }
    }
}

TEST_F(Xml, CdataExactLines) {
    const std::vector<unsigned char> bytes(33, 0xab);
    text_sink out;
    out.writer->write_cdata(bytes.data(), 32);
    out.writer->write_cdata(bytes.data(), 33);
    out.writer->write_cdata(bytes.data(), 0);
    std::string line(64, ' ');
    for (size_t i = 0; i < 64; ++i)
        line[i] = "ab"[i % 2];
    EXPECT_EQ(out.text(), "<![CDATA[\n" + line + "\n]]>\n" + "<![CDATA[\n" + line + "\nab\n]]>\n" +
                              "<![CDATA[\n]]>\n");
}

TEST_F(Xml, CdataReaderEdges) {
    char tag[100];
    unsigned char out[64];
    {
        // Upper-case digits and stray characters between them.
        text_source in("<b><![CDATA[\nDE AD\nbE-eF\n]]>\n</b>");
        ASSERT_EQ(in.reader->read_tag(tag, sizeof tag), 1);
        ASSERT_EQ(in.reader->read_cdata(out, sizeof out), 4);
        EXPECT_EQ(out[0], 0xde);
        EXPECT_EQ(out[3], 0xef);
        EXPECT_EQ(in.reader->open_tags(), nullptr);
    }
    for (int32_t size : {1, 8}) {
        text_source in("<b><![CDATA[\n00\n]]>\n</b>");
        ASSERT_EQ(in.reader->read_tag(tag, sizeof tag), 1);
        EXPECT_EQ(in.reader->read_cdata(out, size), 0);
    }
    {
        text_source in("<b>0011<x>1</x></b>");
        ASSERT_EQ(in.reader->read_tag(tag, sizeof tag), 1);
        EXPECT_EQ(in.reader->read_cdata(out, sizeof out), 0);
    }
    {
        text_source in("<b><![CDATA[\n0011"); // cut short
        ASSERT_EQ(in.reader->read_tag(tag, sizeof tag), 1);
        EXPECT_EQ(in.reader->read_cdata(out, sizeof out), 0);
    }
    std::string log = new_log();
    size_t first = log.find("did not get ![CDATA[ header.");
    ASSERT_NE(first, std::string::npos);
    size_t second = log.find("did not get ![CDATA[ header.", first + 1);
    ASSERT_NE(second, std::string::npos);
    EXPECT_NE(log.find("did not get ![CDATA[ header.", second + 1), std::string::npos);
}

TEST_F(Xml, SkipDataSkipsNestedElementsAndComments) {
    text_source in("<root>\n"
                   "  <unknown a=\"1\">\n"
                   "    <!-- a comment -->\n"
                   "    <deeper><x>1</x><y>text</y></deeper>\n"
                   "    <![CDATA[\n00ff\n]]>\n"
                   "  </unknown>\n"
                   "  <known>7</known>\n"
                   "</root>\n");
    char tag[100];
    ASSERT_EQ(in.reader->read_tag(tag, sizeof tag), 1);
    ASSERT_EQ(in.reader->read_tag(tag, sizeof tag), 1);
    EXPECT_STREQ(tag, "unknown a=\"1\"");
    in.reader->skip_data();
    // The open tag kept its attributes, so its closing tag is reported as a mismatch.
    ASSERT_NE(in.reader->open_tags(), nullptr);
    EXPECT_STREQ(in.reader->open_tags()->name, "root");
    ASSERT_EQ(in.reader->read_tag(tag, sizeof tag), 1);
    EXPECT_STREQ(tag, "known");
    int32_t value = 0;
    EXPECT_EQ(in.reader->read_data(&value), 1);
    EXPECT_EQ(value, 7);
    EXPECT_EQ(in.reader->read_tag(tag, sizeof tag), 0);
    EXPECT_EQ(in.reader->open_tags(), nullptr);
}

TEST_F(Xml, SkipDataMisuseAndTruncation) {
    {
        text_source in("<a>x</a>");
        in.reader->skip_data();
    }
    {
        text_source in("<a><b>");
        char tag[100];
        ASSERT_EQ(in.reader->read_tag(tag, sizeof tag), 1);
        in.reader->skip_data();
    }
    std::string log = new_log();
    EXPECT_NE(log.find("Error in qorl_xml_reader::skip_data() - you must read at least the "
                       "opening tag before skipping data."),
              std::string::npos);
    EXPECT_NE(log.find("Warning in qorl_xml_reader::skip_data() - unable to read chunk?"),
              std::string::npos);
}

TEST_F(Xml, TagsAreCutToTheBuffer) {
    std::string name(1500, 'n');
    text_source in("<" + name + "><b>1</b>");
    char small[10];
    ASSERT_EQ(in.reader->read_tag(small, sizeof small), 1);
    EXPECT_STREQ(small, "nnnnnnnnn");
    char tag[100];
    ASSERT_EQ(in.reader->read_tag(tag, sizeof tag), 1);
    EXPECT_STREQ(tag, "b");
    char *null_dest = nullptr;
    EXPECT_EQ(in.reader->read_tag(null_dest, 10), 0);
    EXPECT_EQ(in.reader->read_tag(tag, 0), 0);
    EXPECT_EQ(in.reader->read_data(null_dest, 10), 0);
    EXPECT_EQ(in.reader->read_data(static_cast<int32_t *>(nullptr)), 0);
    std::string log = new_log();
    EXPECT_NE(log.find("Error in qorl_xml_reader::read_tag(), NULL dest?"), std::string::npos);
    EXPECT_NE(log.find("Error in qorl_xml_reader::read_tag(), dest is too small?"),
              std::string::npos);
    EXPECT_NE(log.find("Error in qorl_xml_reader::read_data(char[]), NULL dest?"),
              std::string::npos);
    EXPECT_NE(log.find("Error in qorl_xml_reader::read_data(int), NULL dest?"), std::string::npos);
}

TEST_F(Xml, StrayBracketsEndBlocksWithWarnings) {
    char tag[100], data[100];
    {
        text_source in("<a<");
        EXPECT_EQ(in.reader->read_tag(tag, sizeof tag), 1);
        EXPECT_STREQ(tag, "a");
    }
    {
        text_source in("<c>x>");
        ASSERT_EQ(in.reader->read_tag(tag, sizeof tag), 1);
        EXPECT_EQ(in.reader->read_data(data, sizeof data), 1);
        EXPECT_STREQ(data, "x");
        EXPECT_EQ(in.reader->open_tags(), nullptr);
    }
    std::string log = new_log();
    EXPECT_NE(log.find("got second open bracket?"), std::string::npos);
    EXPECT_NE(log.find("got second closing bracket?"), std::string::npos);
    EXPECT_NE(log.find("got EOF before trailing bracket."), std::string::npos);
}

// Any input ends the read loops without a crash, however it is nested or mangled.
TEST_F(Xml, ArbitraryInputNeverCrashes) {
    std::vector<std::string> inputs = {
        std::string(100000, '<'),
        std::string(100000, '>'),
        std::string(100000, 'x'),
        "<a></a></a></a></a>",
        "<![CDATA[",
    };
    std::string deep;
    for (int i = 0; i < 30000; ++i)
        deep += "<a>";
    inputs.push_back(deep);
    std::string binary;
    for (int i = 0; i < 4096; ++i)
        binary += char(i * 7 + (i >> 8));
    inputs.push_back(binary);
    const char alphabet[] = "<>/!&a;\t\n \x80[]";
    unsigned seed = 12345;
    for (int n = 0; n < 200; ++n) {
        std::string s;
        for (int i = 0; i < 200; ++i) {
            seed = seed * 1103515245u + 12345u;
            s += alphabet[(seed >> 16) % (sizeof alphabet - 1)];
        }
        inputs.push_back(s);
    }
    disable_message_filter(); // thousands of warnings would only slow the test down
    for (const std::string &input : inputs) {
        text_source in(input);
        char tag[1000], data[1000];
        unsigned char bytes[64];
        int32_t value;
        // A loop shaped like a configuration loader, with every operation in turn.
        for (int step = 0; step < 100000 && in.reader->read_tag(tag, sizeof tag); ++step) {
            switch (step % 4) {
            case 0:
                in.reader->read_data(data, sizeof data);
                break;
            case 1:
                in.reader->read_data(&value);
                break;
            case 2:
                in.reader->read_cdata(bytes, sizeof bytes);
                break;
            default:
                in.reader->skip_data();
            }
        }
    }
    enable_message_filter();
}

TEST_F(Xml, DeclarationLineChecks) {
    struct row {
        const char *line;
        int result;
        const char *report; // the end of the warning, or null for none
    };
    const row rows[] = {
        {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>", 1, nullptr},
        {"<?xml encoding=\"ISO-8859-1\" version=\"1.0\"?>", 1, nullptr},
        {"<?XML version = \"1.0\"  encoding=\"x\"", 1, nullptr},
        {"<?xml version=\"1.0\"encoding=\"x\"?>", 1, nullptr},
        {"<?xml version=\"1.0\" version=\"2\" encoding=\"\"?> trailing", 1, nullptr},
        {"<?xml version=\"1.0\"?>", 0, "didn't get encoding."},
        {"<?xml encoding=\"ISO-8859-1\"?>", 0, "didn't get version."},
        {"<?xml", 0, "didn't get either version or encoding."},
        {"<?xml   ", 0, "didn't get either version or encoding."},
        {"<xml version=\"1.0\" encoding=\"x\"?>", 0, "missing opening '<?xml' tag."},
        {"", 0, "missing opening '<?xml' tag."},
        {"<?xml version=1.0 encoding=\"x\"?>", 0,
         "'version' tag found, but no opening version quote."},
        {"<?xml version=\"1.0 encoding=x?>", 0,
         "'version' tag found, but no closing version quote."},
        {"<?xml version \"1.0\" encoding=\"x\"?>", 0, "'version' tag found, but no version."},
        {"<?xml version=\"1.0\" encoding=x?>", 0,
         "'encoding' tag found, but no opening encoding quote."},
        {"<?xml version=\"1.0\" encoding=\"x?>", 0,
         "'encoding' tag found, but no closing encoding quote."},
        {"<?xml version=\"1.0\" encoding?>", 0, "'encoding' tag found, but no encoding."},
        {"<?xml standalone=\"yes\" version=\"1.0\" encoding=\"x\"?>", 0, "unknown tag found."},
        {"<?xml Version=\"1.0\" encoding=\"x\"?>", 0, "unknown tag found."},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.line);
        size_t start = read_file(log_path).size();
        EXPECT_EQ(check_xml_header_string(r.line), r.result);
        std::string log = read_file(log_path).substr(start);
        if (r.report == nullptr)
            EXPECT_EQ(log, "");
        else
            EXPECT_EQ(log, std::string("Warning in qorl_xml_reader::check_xml_header_string(), ") +
                               r.report + "\n");
    }
    EXPECT_EQ(check_xml_header_string(nullptr), 0);
}

} // namespace
