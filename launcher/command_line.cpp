// Command-line options: "-h", "-b", "-u", "-v", matched on the first word in any case.
#include "launcher/command_line.h"

#include "client/debug_log.h"
#include "client/fixed_text.h"
#include "launcher/config_file.h"
#include "launcher/launcher_state.h"
#include "util/string_utils.h"

#include <clocale>
#include <cstdlib>
#include <deque>
#include <string>

bool utf8_next_char(const unsigned char **position, uint32_t *value) {
    const unsigned char *p = *position;
    unsigned char lead = *p;
    if (lead == 0)
        return false;
    ++p;
    int continuations;
    uint32_t v;
    if (lead < 0x80) {
        v = lead;
        continuations = 0;
    } else if (lead < 0xC0) {
        v = lead & 0x3F; // a stray continuation byte
        continuations = 0;
    } else if (lead < 0xE0) {
        v = lead & 0x1F;
        continuations = 1;
    } else if (lead < 0xF0) {
        v = lead & 0x0F;
        continuations = 2;
    } else if (lead < 0xF8) {
        v = lead & 0x07;
        continuations = 3;
    } else {
        v = '.';
        continuations = 0;
    }
    // A NUL is not a continuation byte, so this never reads past the terminator.
    for (int i = 0; i < continuations && (*p & 0xC0) == 0x80; ++i, ++p)
        v = (v << 6) | (*p & 0x3F);
    *value = v;
    *position = p;
    return true;
}

void convert_utf8_argument(const char *utf8, fixed_text &destination) {
    const unsigned char *p = reinterpret_cast<const unsigned char *>(utf8 ? utf8 : "");
    uint32_t value;
    while (utf8_next_char(&p, &value) && value != 0) {
        bool control = value < 32 && value != 9 && value != 10 && value != 13;
        destination.append_char((value > 126 || control) ? '.' : char(value));
    }
}

void make_arguments_convertible(int argc, char **argv) {
    static std::deque<fixed_text> replacements; // referenced from argv for the whole run
    const char *current = setlocale(LC_CTYPE, nullptr);
    std::string saved = current ? current : "C";
    setlocale(LC_CTYPE, ""); // the toolkit converts with the environment's locale
    for (int i = 0; i < argc; ++i) {
        if (argv[i] == nullptr || mbstowcs(nullptr, argv[i], 0) != size_t(-1))
            continue;
        replacements.emplace_back();
        fixed_text &ascii = replacements.back();
        ascii.clear();
        convert_utf8_argument(argv[i], ascii);
        argv[i] = ascii.text;
    }
    setlocale(LC_CTYPE, saved.c_str());
}

static void print_help(const char *program) {
    fixed_text name;
    name.clear();
    convert_utf8_argument(program, name);
    log_printf("Syntax:\n");
    log_printf("%s [-h] [-b] [-u] [-v]\n", name.text);
    log_printf("\n");
    log_printf("Options are:\n");
    log_printf("  -h   - this help screen\n");
    log_printf("  -b   - switch to beta test mode\n");
    log_printf("  -u   - switch out of beta test mode\n");
    log_printf("  -v   - more verbose debug printing\n");
    log_printf("\n");
}

void process_command_line(int argc, const char *const *utf8_argv) {
    fixed_text argument;
    for (int i = 0; i < argc; ++i) {
        argument.clear();
        convert_utf8_argument(utf8_argv[i], argument);
        if (i == 0) {
            if (log_level > 0)
                log_printf("Executable name '%s'.\n", argument.text);
            continue;
        }
        if (word_in_list(argument.text, "-h --help")) {
            if (log_level > 0)
                print_help(utf8_argv[0]);
            exit(0);
        } else if (word_in_list(argument.text, "-b --beta")) {
            if (log_level > 0)
                log_printf("Forcing beta test mode.\n");
            set_beta_mode(1);
        } else if (word_in_list(argument.text, "-u --unbeta")) {
            if (log_level > 0)
                log_printf("Forcing non-beta test mode.\n");
            set_beta_mode(0);
        } else if (word_in_list(argument.text, "-v --verbose")) {
            if (log_level > 0)
                log_printf("Setting verbose printing mode.\n");
            verbose_printing = 1;
        } else {
            if (log_level > 0)
                log_printf("Sorry, unknown command line option '%s'.  Use '-h' for a list.\n",
                           argument.text);
            exit(1);
        }
    }
}
