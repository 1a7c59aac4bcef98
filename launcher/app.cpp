// Start-up of the launcher: each OnInit stage in the order the launcher depends on.
#include "launcher/app.h"

#include "client/config_dir.h"
#include "client/debug_log.h"
#include "client/directories.h"
#include "client/fixed_text.h"
#include "graphics/pixel_bitmap.h"
#include "launcher/boot_sequence.h"
#include "launcher/command_line.h"
#include "launcher/config_file.h"
#include "launcher/launcher_state.h"
#include "launcher/launcher_window.h"
#include "net/ssl_context.h"
#include "resources/splash_image.h"

#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include <wx/display.h>
#include <wx/image.h>
#include <wx/mstream.h>

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

void ignore_broken_pipes() {
    signal(SIGPIPE, SIG_IGN);
}

void start_ssl() {
    if (!qorl_ssl_startup()) {
        if (log_level > 0)
            log_printf("Boot failed, SSL startup is broken.\n");
        exit(1);
    }
}

void choose_config_directory() {
    if (!qorl_client_set_up_config_directory("Duskmere")) {
        if (log_level > 0)
            log_printf("Boot failed, unable to get at system config directory.\n");
        exit(1);
    }
}

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

void register_png_handler() {
    if (wxImage::FindHandler(wxBITMAP_TYPE_PNG) == nullptr)
        wxImage::AddHandler(new wxPNGHandler);
}

// The picture is compiled in; a picture that fails to decode leaves an empty bitmap and a
// black window.
void load_splash_image() {
    wxMemoryInputStream stream(splash_png, splash_png_size);
    wxImage image(stream, wxBITMAP_TYPE_PNG);
    splash_bitmap = new qorl_bitmap(image);
}

launcher_frame *create_launcher_window() {
    return new launcher_frame("Duskmere Launcher", wxDefaultPosition, wxSize(480, 300));
}

// The display that shows the frame, or the first one when the toolkit cannot tell.
void measure_display(const wxWindow *frame) {
    int index = wxDisplay::GetFromWindow(frame);
    int32_t width = 0, height = 0;
    if (index == wxNOT_FOUND && wxDisplay::GetCount() > 0)
        index = 0;
    if (index != wxNOT_FOUND) {
        wxRect geometry = wxDisplay(unsigned(index)).GetGeometry();
        width = geometry.GetWidth();
        height = geometry.GetHeight();
    }
    set_screen_size(width, height);
}

void show_centred(launcher_frame *frame, wxApp *app) {
    frame->Move((screen_width - 480) / 2, (screen_height - 300) / 2); // may be negative
    frame->Show(true);
    app->SetTopWindow(frame);
}

// The lock file's folders are made first; a lock held elsewhere is retried by the boot step.
void take_updater_lock() {
    lock_path.clear();
    lock_path.append(get_config_directory());
    lock_path.append("/executables/lock.tmp");
    qorl_recursive_mkdir(lock_path.text, 0700, nullptr);
    lock_fd = lock_file_acquire(lock_path.text);
    if (lock_fd < 0 && log_level > 1)
        log_printf("OnInit(), unable to get updater file lock.\n");
}

void start_updater_if_locked(launcher_frame *frame) {
    if (lock_fd >= 0)
        start_updater_thread(&frame->mw);
}

} // namespace

void set_screen_size(int32_t width, int32_t height) {
    if (width < 1) {
        if (log_level > 0)
            log_printf(
                "Error in OnInit(), got bogus screen/display xsize of %d.  Setting to 640.\n",
                int(width));
        width = 640;
    }
    if (height < 1) {
        if (log_level > 0)
            log_printf(
                "Error in OnInit(), got bogus screen/display ysize of %d.  Setting to 480.\n",
                int(height));
        height = 480;
    }
    if (log_level > 1)
        log_printf("OnInit(), got screen/display size of %d, %d.\n", int(width), int(height));
    screen_width = width;
    screen_height = height;
}

bool qorl_app::OnInit() {
    choose_debug_log();
    ignore_broken_pipes();
    start_ssl();
    choose_config_directory();
    load_system_config_file();
    build_fixed_paths(get_config_directory());
    read_command_line(argv.GetArguments());
    register_png_handler();
    load_splash_image();
    launcher_frame *frame = create_launcher_window();
    measure_display(frame);
    show_centred(frame, this);
    take_updater_lock();
    start_updater_if_locked(frame);
    return true;
}

int qorl_app::OnExit() {
    if (log_level > 2)
        log_printf("--------------------------- LAUNCHER EXIT --------------------------\n");
    return 0;
}
