// The launcher's splash window: picture, two status lines, progress bar, its clock and keys.
#include "launcher/launcher_window.h"

#include "client/debug_log.h"
#include "client/directories.h"
#include "client/fixed_text.h"
#include "launcher/boot_sequence.h"
#include "launcher/config_file.h"
#include "launcher/launcher_state.h"

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int clock_timer_id = 1;
constexpr int progress_event_id = 2;
constexpr int clock_interval_ms = 20;

enum : int { key_escape = 27, key_b = 66, key_q = 81 };

} // namespace

wxBEGIN_EVENT_TABLE(launcher_mw, qorl_embedded_window)
    EVT_TIMER(clock_timer_id, launcher_mw::OnTimer)
        EVT_TIMER(progress_event_id, launcher_mw::on_progress_event)
            EVT_KEY_DOWN(launcher_mw::on_key_down) wxEND_EVENT_TABLE()

                launcher_mw::launcher_mw(wxWindow *parent, wxWindowID id, const wxString &name,
                                         const wxPoint &position, const wxSize &size, long style)
    : qorl_embedded_window(parent, id, name, position, size, style), options_shown(0),
      timer(this, clock_timer_id), elapsed_ms(0) {
    status_text = new wxStaticText(this, wxID_ANY, name, wxDefaultPosition, wxDefaultSize,
                                   wxST_NO_AUTORESIZE);
    info_text = new wxStaticText(this, wxID_ANY, name, wxDefaultPosition, wxDefaultSize,
                                 wxST_NO_AUTORESIZE);
    SetBackgroundColour(*wxBLACK);

    progress_bar = new qorl_progress_bar(this, wxID_ANY, "Downloader progress bar");
    progress_bar->set_empty_colour(32, 32, 32);
    progress_bar->set_filled_colour(128, 128, 128);
    progress_bar->set_position_and_size(10, 280, 460, 10);
    progress_bar->Show();

    status_text->SetSize(10, 260, 460, 20);
    info_text->SetSize(10, 240, 460, 20);

    options_shown = 0;
    elapsed_ms = 0;
    constructed = 1;
    timer.Start(clock_interval_ms, wxTIMER_CONTINUOUS);
    SetFocus();
}

launcher_mw::~launcher_mw() {
    timer.Stop();
}

void launcher_mw::redraw(bool) {
    Refresh(false);
}

void launcher_mw::draw_contents(qorl_bitmap *buffer) {
    const bool covered = splash_bitmap != nullptr &&
                         splash_bitmap->GetWidth() >= buffer->GetWidth() &&
                         splash_bitmap->GetHeight() >= buffer->GetHeight();
    if (!covered) // nothing may stay stale where the picture does not reach
        buffer->Clear(pixel_colour{0, 0, 0});
    if (splash_bitmap != nullptr)
        buffer->DrawBitmap(*splash_bitmap, 0, 0);
}

void launcher_mw::update_status_texts() {
    info_text->SetForegroundColour(*wxWHITE);
    status_text->SetForegroundColour(*wxWHITE);
    const bool beta = beta_mode != 0;
    if (options_shown) {
        fixed_text version;
        version.clear();
        version.append("Launcher Version: ");
        version.append(launcher_version_string);
        if (beta)
            version.append(" - beta test mode enabled");
        info_text->SetLabel(version.text);
        status_text->SetLabel(beta ? "Press 'escape' to continue, 'b' to leave BETA TEST mode."
                                   : "Press 'escape' to continue, 'b' to enter BETA TEST mode.");
        return;
    }
    info_text->SetLabel(beta ? "(beta test mode - press 'escape' for options)"
                             : "(press 'escape' for options)");
    const double percent = progress_bar->get_percent();
    if (percent > 0) {
        char line[256];
        snprintf(line, sizeof line, "Downloading - %.1f%%", percent);
        status_text->SetLabel(line);
    } else if (updater_started) {
        status_text->SetLabel("Checking for updates...");
    } else {
        status_text->SetLabel("");
    }
}

void launcher_mw::report_progress(double percent) {
    progress_bar->store_percent(percent);
    // Built from the clock only because the toolkit wants a timer behind every timer event;
    // the id and the event object are this event's own.
    wxTimerEvent event(timer);
    event.SetId(progress_event_id);
    event.SetEventObject(this);
    GetEventHandler()->AddPendingEvent(event); // the toolkit's thread-safe queue
}

void launcher_mw::on_progress_event(wxTimerEvent &) {
    progress_bar->redraw_if_changed();
    update_status_texts();
}

void launcher_mw::toggle_beta_mode() {
    set_beta_mode(beta_mode == 0 ? 1 : 0);
    update_status_texts();
    if (!updater_finished)
        return; // a run is going on: only the mode and the display change
    lock_fd = lock_file_acquire(lock_path.text);
    if (lock_fd < 0)
        return; // the boot step's lock wait takes over
    if (log_level > 1)
        log_printf("OnTimer(), late start of updater thread.\n");
    start_updater_thread(this);
}

void launcher_mw::OnTimer(wxTimerEvent &) {
    if (!constructed) {
        if (log_level > 0)
            log_printf("launcher_mw::OnTimer() - constructor not finished?\n");
        return;
    }
    boot_step(this);
}

void launcher_mw::on_key_down(wxKeyEvent &event) {
    switch (event.GetKeyCode()) {
    case key_escape:
        options_shown = !options_shown;
        update_status_texts();
        break;
    case key_b:
        toggle_beta_mode();
        break;
    case key_q:
        exit(0);
    default:
        break;
    }
    event.Skip();
}

launcher_frame::launcher_frame(const wxString &title, const wxPoint &position, const wxSize &size)
    : qorl_frame(nullptr, wxID_ANY, title, position, size,
                 wxCLIP_CHILDREN | wxWANTS_CHARS | wxFRAME_TOOL_WINDOW),
      mw(this, wxID_ANY, title, position, size, wxBORDER_NONE) {}

launcher_frame::~launcher_frame() = default;

void close_launcher_window(launcher_mw *window) {
    window->timer.Stop();
    wxWindow *frame = window->GetParent();
    if (frame != nullptr)
        frame->Destroy();
}
