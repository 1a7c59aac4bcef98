// The per-user configuration directory: chosen once at start-up, with fallbacks.
#include "client/config_dir.h"

#include "client/debug_log.h"
#include "client/directories.h"
#include "client/fixed_text.h"
#include "util/string_utils.h"

#include <cstdlib>
#include <vector>

// Chosen path; kept for the life of the process.
static char *config_directory = nullptr;
// Paths replaced by a later set-up stay allocated: earlier readers may still hold them.
static std::vector<char *> replaced_directories;

const char *get_config_directory() {
    return config_directory;
}

int check_config_directory(const char *path) {
    fixed_text message;
    message.clear();
    message.append("Checking config directory: ");
    message.append(path);
    int ok = qorl_create_and_check_writeable_directory(path, 0700, nullptr);
    if (!ok)
        message.append(" [FAIL]");
    report_message(message.text, msg_trace, module_config_dir);
    return ok;
}

int qorl_client_set_up_config_directory(const char *base_name) {
    if (base_name == nullptr)
        return 0;
    if (config_directory != nullptr) {
        report_message("Error in qorl_client_set_up_config_directory(), attempt to change config "
                       "directory path after initial configuration.",
                       msg_usage, module_config_dir);
        fixed_text message;
        message.clear();
        message.append("Old path '");
        message.append(config_directory);
        message.append("', new base name '");
        message.append(base_name);
        message.append("'");
        report_message(message.text, msg_trace, module_config_dir);
    }
    const char *home = getenv("HOME");
    if (home == nullptr) {
        report_message("Error in qorl_client_set_up_config_directory(), unable to fetch home "
                       "directory - please set HOME environment variable and restart.",
                       msg_usage, module_config_dir);
        return 0;
    }
    // Home first, then places that work without a usable home.
    const char *const prefixes[][2] = {{home, "/."}, {"", "."}, {"", "/tmp/"}, {"", ""}};
    fixed_text candidate;
    bool found = false;
    for (const auto &prefix : prefixes) {
        candidate.clear();
        candidate.append(prefix[0]);
        candidate.append(prefix[1]);
        candidate.append(base_name);
        if (check_config_directory(candidate.text)) {
            found = true;
            break;
        }
    }
    if (!found) {
        report_message(
            "qorl_client_set_up_config_directory() - Giving up.  Cannot create config directory.",
            msg_data_file, module_config_dir);
        return 0;
    }
    char *chosen = dup_string(candidate.text);
    if (chosen == nullptr)
        return 0;
    if (config_directory != nullptr)
        replaced_directories.push_back(config_directory);
    config_directory = chosen;
    fixed_text message;
    message.clear();
    message.append("qorl_client_set_up_config_directory() - got final config directory '");
    message.append(config_directory);
    message.append("'");
    report_message(message.text, msg_trace, module_config_dir);
    return 1;
}
