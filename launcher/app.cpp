// Start-up of the launcher: each OnInit stage in the order the launcher depends on.
#include "launcher/app.h"

#include "client/debug_log.h"
#include "client/fixed_text.h"
#include "launcher/command_line.h"
#include "launcher/config_file.h"
#include "launcher/launcher_state.h"

#include <csignal>
#include <string>
#include <vector>

void convert_argument(const wxString &argument, fixed_text &destination) {
    wxScopedCharBuffer utf8 = argument.ToUTF8();
    convert_utf8_argument(utf8.data(), destination);
}

namespace {

void choose_debug_log() {
    qorl_client_set_autoopen_debug_logfile_name("duskmere_korvix_launcher.txt");
    if (log_level > 2)
        log_printf("--------------------------- LAUNCHER START --------------------------\n");
}

void ignore_broken_pipes() { signal(SIGPIPE, SIG_IGN); }

// Paths hang off the configuration directory; "(null)" stands in for a missing one.
void build_fixed_paths(const char *config_directory) {
    manifest_path.clear();
    manifest_path.append(config_directory);
    manifest_path.append("/executables/update_manifest.lst");
    executables_dir.clear();
    executables_dir.append(config_directory);
    executables_dir.append("/executables");
    boot_name_path.clear();
    boot_name_path.append(config_directory);
    boot_name_path.append("/bootname.txt");
}

void read_command_line(const wxArrayString &args) {
    std::vector<std::string> utf8_args;
    for (const wxString &a : args)
        utf8_args.emplace_back(a.ToUTF8().data());
    std::vector<const char *> argv;
    for (const std::string &a : utf8_args)
        argv.push_back(a.c_str());
    process_command_line(int(argv.size()), argv.data());
}

} // namespace

bool qorl_app::OnInit() {
    choose_debug_log();
    ignore_broken_pipes();
    load_system_config_file();
    build_fixed_paths(nullptr);
    read_command_line(argv.GetArguments());
    return true;
}

int qorl_app::OnExit() {
    if (log_level > 2)
        log_printf("--------------------------- LAUNCHER EXIT --------------------------\n");
    return 0;
}
