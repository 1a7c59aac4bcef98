// launcher.cfg: load at start-up, save on every change of beta-test mode.
#include "launcher/config_file.h"

#include "client/config_dir.h"
#include "client/debug_log.h"
#include "client/fixed_text.h"
#include "launcher/launcher_state.h"
#include "util/stream_io.h"
#include "util/string_utils.h"
#include "xml/xml_reader.h"
#include "xml/xml_writer.h"

#include <cstdio>
#include <cstring>

std::atomic<int> beta_mode{0};
// The launcher_version text found in the file (heap copy), or null.
static char *stored_launcher_version = nullptr;

namespace {

// Builds configuration directory + "/launcher.cfg"; false when there is no directory.
bool config_file_path(fixed_text &path) {
    const char *directory = get_config_directory();
    if (directory == nullptr)
        return false;
    path.clear();
    path.append(directory);
    path.append("/launcher.cfg");
    return true;
}

// The children of "launcher_config", in any order; later duplicates override earlier ones.
void read_config_section(qorl_xml_reader &reader) {
    char tag[1000];
    while (reader.read_tag(tag, sizeof tag)) {
        if (word_equals(tag, "launcher_version")) {
            char version[1000];
            version[0] = '\0';
            reader.read_data(version, sizeof version);
            free_string(&stored_launcher_version);
            stored_launcher_version = dup_string(version);
        } else if (word_equals(tag, "beta_test_enable")) {
            int32_t value = 0;
            if (reader.read_data(&value))
                beta_mode = value;
        } else {
            reader.skip_data();
        }
    }
}

void read_config_stream(FILE *file) {
    char line[1000];
    if (fget_line(file, line, sizeof line) == 0)
        line[0] = '\0'; // an empty file has no declaration
    if (!check_xml_header_string(line)) {
        if (log_level > 0)
            log_printf("Warning in load_system_config_file() - bad XML header, bailing.\n");
        return;
    }
    qorl_xml_file_reader reader(file);
    char tag[1000];
    while (reader.read_tag(tag, sizeof tag)) {
        if (word_equals(tag, "launcher_config")) {
            read_config_section(reader);
        } else {
            if (log_level > 0)
                log_printf("load_system_config_file() got unknown tag '%s'\n", tag);
            reader.skip_data();
        }
    }
}

} // namespace

void load_system_config_file() {
    fixed_text path;
    if (!config_file_path(path)) {
        if (log_level > 0)
            log_printf("Unable to load system config - no config file directory.\n");
        return;
    }
    if (log_level > 2)
        log_printf("load_system_config_file() - using core config file name '%s'.\n", path.text);
    FILE *file = fopen(path.text, "rb");
    if (file == nullptr) {
        if (log_level > 0)
            log_printf("Unable to load system config - cannot open config file '%s'.\n", path.text);
    } else {
        read_config_stream(file);
        fclose(file);
    }
    if (stored_launcher_version == nullptr ||
        strcmp(stored_launcher_version, launcher_version_string) != 0)
        save_system_config_file();
}

void save_system_config_file() {
    fixed_text path;
    if (!config_file_path(path)) {
        if (log_level > 0)
            log_printf("Unable to save system config - no config file directory.\n");
        return;
    }
    FILE *file = fopen(path.text, "wb");
    if (file == nullptr) {
        if (log_level > 0)
            log_printf("Unable to save system config - cannot open config file '%s'.\n", path.text);
        return;
    }
    bool written;
    {
        qorl_xml_file_writer writer(file);
        written = writer.write_header() > 0;
        if (written) {
            if (log_level > 2)
                log_printf("Saving system config to file '%s'.\n", path.text);
            char beta[16];
            snprintf(beta, sizeof beta, "%d", beta_mode.load());
            writer.write_tag("launcher_config", true);
            writer.write_tag("launcher_version", false);
            writer.write_string(launcher_version_string);
            writer.end_tag(nullptr, false);
            writer.write_tag("beta_test_enable", false);
            writer.write_string(beta);
            writer.end_tag(nullptr, false);
            writer.end_tag(nullptr, true);
            writer.write_newline();
        }
    }
    // stdio buffers the whole file, so write errors (a full disk) only show at the close.
    if (ferror(file))
        written = false;
    if (fclose(file) != 0)
        written = false;
    if (!written && log_level > 0)
        log_printf("Error in save_system_config_file(), unable to write to system config file "
                   "'%s'.\n",
                   path.text);
    fflush(nullptr);
}

void set_beta_mode(int value) {
    int old = beta_mode.exchange(value);
    if (old != value)
        save_system_config_file();
}

int get_beta_mode() {
    return beta_mode.load();
}

const char *get_stored_launcher_version() {
    return stored_launcher_version;
}
