// The launcher's splash window: picture, two status lines, progress bar, its clock and keys.
#pragma once

#include "graphics/widgets.h"

#include <cstdint>

#include <wx/stattext.h>
#include <wx/timer.h>

// The window content. Everything here runs on the GUI thread except report_progress.
class launcher_mw : public qorl_embedded_window {
  public:
    // Builds the status lines and the progress bar, sets `constructed` and starts the 20 ms
    // clock (timer id 1), then takes the keyboard focus. name: the window name (the title).
    launcher_mw(wxWindow *parent, wxWindowID id, const wxString &name, const wxPoint &position,
                const wxSize &size, long style);
    ~launcher_mw() override;

    // A full repaint without erasing; resized is ignored.
    void redraw(bool resized) override;
    // Paints the splash picture (black where there is none).
    void draw_contents(qorl_bitmap *buffer) override;

    // Sets both lines from options_shown, beta_mode, the progress and updater_started.
    void update_status_texts();
    // Worker thread: stores percent (0..100) in the bar and queues a timer event with id 2
    // on this window; nothing else is touched off the GUI thread.
    void report_progress(double percent);
    // The B key: flips beta_mode (saving launcher.cfg), refreshes the lines and, when the last
    // updater run has finished, takes the lock again and starts a new run.
    void toggle_beta_mode();

    // Timer id 1: the boot step, once construction has finished.
    void OnTimer(wxTimerEvent &event);
    // Timer id 2, queued by report_progress: repaint the bar if needed, refresh the lines.
    void on_progress_event(wxTimerEvent &event);
    // Escape flips the options display, B toggles beta mode, Q exits with status 0.
    void on_key_down(wxKeyEvent &event);

    int options_shown;               // the options display is on; the boot waits while it is
    wxTimer timer;                   // the 20 ms clock
    int32_t elapsed_ms;              // 20 per tick
    wxStaticText *status_text;       // lower line, (10, 260) 460 x 20
    wxStaticText *info_text;         // upper line, (10, 240) 460 x 20
    qorl_progress_bar *progress_bar; // (10, 280) 460 x 10, a child window

  private:
    wxDECLARE_EVENT_TABLE();
};

// The top-level window; its content is a member, so it goes when the frame goes.
class launcher_frame : public qorl_frame {
  public:
    // A 480 x 300 tool window (position as given, normally the default) titled title.
    launcher_frame(const wxString &title, const wxPoint &position, const wxSize &size);
    ~launcher_frame() override;

    launcher_mw mw;
};

// Destroys the launcher window (its frame); the toolkit's main loop ends once it is gone.
// The clock is stopped first so no further boot step runs in between.
void close_launcher_window(launcher_mw *window);
