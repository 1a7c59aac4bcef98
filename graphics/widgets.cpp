// qorl_frame, qorl_embedded_window with its animation list, and qorl_progress_bar.
#include "graphics/widgets.h"

#include "client/debug_log.h"

#include <cmath>

#include <wx/dcclient.h>

// ---- qorl_frame ----

qorl_frame::qorl_frame(wxWindow *parent, wxWindowID id, const wxString &title,
                       const wxPoint &position, const wxSize &size, long style)
    : wxFrame(parent, id, title, position, size, style, title) {
    SetName(wxString("qorl frame ") + title);
}

qorl_frame::~qorl_frame() = default;

// ---- qorl_embedded_window ----

namespace {

qorl_embedded_window *animation_head = nullptr;

int at_least_one(int n) {
    return n <= 0 ? 1 : n;
}

} // namespace

wxBEGIN_EVENT_TABLE(qorl_embedded_window, wxWindow) EVT_PAINT(qorl_embedded_window::on_paint)
    EVT_SIZE(qorl_embedded_window::on_size)
        EVT_ERASE_BACKGROUND(qorl_embedded_window::on_erase_background) wxEND_EVENT_TABLE()

            qorl_embedded_window::qorl_embedded_window(wxWindow *parent, wxWindowID id,
                                                       const wxString &name,
                                                       const wxPoint &position, const wxSize &size,
                                                       long style)
    : wxWindow(parent, id, position, size, style, name),
      back_buffer(new qorl_bitmap(at_least_one(size.x), at_least_one(size.y))),
      animation_next(nullptr) {}

qorl_embedded_window::~qorl_embedded_window() {
    // A destroyed window left on the list would be ticked after its death.
    stop_animation(this);
    delete back_buffer;
    back_buffer = nullptr;
}

int qorl_embedded_window::animation_callback(int) {
    if (log_level > 0)
        log_printf("Error in qorl_embedded_window::animation_callback(), this handler should "
                   "never be called.\n");
    return 0;
}

void qorl_embedded_window::resize(int x, int y, int width, int height, int size_flags) {
    width = at_least_one(width);
    height = at_least_one(height);
    wxSize current = GetSize();
    // The buffer follows the size set here; a toolkit layout may have resized the window
    // behind its back, so both sizes are compared.
    bool resized = width != current.x || height != current.y || width != back_buffer->GetWidth() ||
                   height != back_buffer->GetHeight();
    if (resized) {
        delete back_buffer;
        back_buffer = new qorl_bitmap(width, height);
    }
    SetSize(x, y, width, height, size_flags);
    redraw(resized);
}

void qorl_embedded_window::set_position_and_size(int x, int y, int width, int height) {
    resize(x, y, width, height, wxSIZE_AUTO);
}

void qorl_embedded_window::set_size(int width, int height) {
    resize(-1, -1, width, height, wxSIZE_USE_EXISTING);
}

void qorl_embedded_window::force_redraw() {
    redraw(true);
}

void qorl_embedded_window::Refresh(bool eraseBackground, const wxRect *rect) {
    wxWindow::Refresh(eraseBackground, rect);
}

void qorl_embedded_window::on_paint(wxPaintEvent &) {
    wxPaintDC dc(this);
    if (IsShown()) {
        draw_contents(back_buffer);
        dc.DrawBitmap(back_buffer->GetWxBitmap(), 0, 0, false);
    }
}

// Swallowed: the back buffer changes only through set_position_and_size and set_size.
void qorl_embedded_window::on_size(wxSizeEvent &) {}

// Never erased, so nothing flickers: the paint covers every pixel.
void qorl_embedded_window::on_erase_background(wxEraseEvent &) {}

void start_animation(qorl_embedded_window *window) {
    if (window == nullptr)
        return;
    for (qorl_embedded_window *w = animation_head; w; w = w->animation_next)
        if (w == window)
            return;
    window->animation_next = animation_head;
    animation_head = window;
}

void stop_animation(qorl_embedded_window *window) {
    for (qorl_embedded_window **link = &animation_head; *link; link = &(*link)->animation_next) {
        if (*link == window) {
            *link = window->animation_next;
            window->animation_next = nullptr;
            return;
        }
    }
}

void run_animations(int elapsed_ms) {
    qorl_embedded_window *w = animation_head;
    while (w) {
        qorl_embedded_window *next = w->animation_next;
        if (w->animation_callback(elapsed_ms) == 0)
            stop_animation(w);
        w = next;
    }
}

// ---- qorl_progress_bar ----

qorl_progress_bar::qorl_progress_bar(wxWindow *parent, wxWindowID id, const wxString &name)
    : qorl_embedded_window(parent, id, name, wxDefaultPosition, wxSize(20, 20), wxBORDER_NONE),
      last_drawn_percent(-1.0), percent(0.0), filled_colour{0, 255, 0}, empty_colour{0, 0, 0} {}

qorl_progress_bar::~qorl_progress_bar() = default;

void qorl_progress_bar::set_filled_colour(int r, int g, int b) {
    filled_colour = {r, g, b};
}

void qorl_progress_bar::set_empty_colour(int r, int g, int b) {
    empty_colour = {r, g, b};
}

void qorl_progress_bar::store_percent(double value) {
    percent.store(value);
}

void qorl_progress_bar::set_percent(double value) {
    store_percent(value);
    redraw_if_changed();
}

void qorl_progress_bar::redraw_if_changed() {
    double now = percent.load();
    // != is true when either side is NaN.
    if (now != last_drawn_percent)
        redraw(false);
}

void qorl_progress_bar::redraw(bool) {
    Refresh(false, nullptr);
}

void qorl_progress_bar::draw_contents(qorl_bitmap *buffer) {
    wxSize size = GetSize();
    wxSize border = GetWindowBorderSize();
    int width = size.x - border.x;
    int height = size.y - border.y;
    double shown = percent.load();
    // Held within 0..width before the conversion, so NaN and huge values stay defined.
    double columns = width * shown / 100.0;
    int filled;
    if (!(columns > 0))
        filled = 0;
    else if (columns >= width)
        filled = width;
    else
        filled = int(columns);
    if (filled > 0)
        buffer->DrawFilledRectangle(0, 0, filled - 1, height - 1, filled_colour);
    if (filled < width)
        buffer->DrawFilledRectangle(filled, 0, width - 1, height - 1, empty_colour);
    last_drawn_percent = shown;
}
