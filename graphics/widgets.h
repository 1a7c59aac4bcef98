// Window classes of the client library: a named frame, back-buffered child windows with an
// animation tick, and a two-coloured progress bar.
#pragma once

#include "graphics/pixel_bitmap.h"

#include <atomic>

#include <wx/frame.h>
#include <wx/window.h>

// A top-level frame whose window name is "qorl frame " followed by its title.
class qorl_frame : public wxFrame {
  public:
    // parent may be null; title is both the visible title and the end of the window name.
    qorl_frame(wxWindow *parent, wxWindowID id, const wxString &title, const wxPoint &position,
               const wxSize &size, long style);
    ~qorl_frame() override;
};

// A child window that reaches the screen only by one blit of its back buffer per paint. The
// subclass paints the whole buffer in draw_contents; background erasing is switched off and
// size events are swallowed (a size change made by the toolkit leaves the buffer as it was;
// drawing stays clipped to it). All operations run on the GUI thread.
class qorl_embedded_window : public wxWindow {
  public:
    // A wxWindow of (parent, id, position, size, style, name) with a back buffer of that
    // size; a dimension of 0 or less (wxDefaultSize) gives 1.
    qorl_embedded_window(wxWindow *parent, wxWindowID id, const wxString &name,
                         const wxPoint &position, const wxSize &size, long style);
    // Takes the window off the animation list if it is still there, then deletes the buffer.
    ~qorl_embedded_window() override;

    // Asks for a repaint; resized is true when the back buffer was just recreated.
    virtual void redraw(bool resized) = 0;
    // Paints the whole of buffer (the back buffer), just before it is blitted: no pixel may be
    // left stale.
    virtual void draw_contents(qorl_bitmap *buffer) = 0;
    // One animation tick of elapsed_ms milliseconds; non-zero keeps the window listed. This
    // class's version logs an error (level > 0) and returns 0.
    virtual int animation_callback(int elapsed_ms);
    // Moves and sizes the window (a width or height of 0 or less counts as 1). When the size
    // differs from the window's or the back buffer's, the buffer is recreated (alpha 255,
    // colours unset) and redraw(true) follows; otherwise redraw(false).
    virtual void set_position_and_size(int x, int y, int width, int height);
    // The same, keeping the window's position.
    virtual void set_size(int width, int height);
    // redraw(true).
    virtual void force_redraw();

    // wxWindow's Refresh with both arguments passed on unchanged.
    void Refresh(bool eraseBackground = true, const wxRect *rect = nullptr) override;

    // The back buffer; never null, its size the one last set through this class.
    qorl_bitmap *get_back_buffer() const { return back_buffer; }

  protected:
    qorl_bitmap *back_buffer;

  private:
    void resize(int x, int y, int width, int height, int size_flags);
    void on_paint(wxPaintEvent &event);
    void on_size(wxSizeEvent &event);
    void on_erase_background(wxEraseEvent &event);

    // Next window on the animation list.
    qorl_embedded_window *animation_next;
    friend void start_animation(qorl_embedded_window *window);
    friend void stop_animation(qorl_embedded_window *window);
    friend void run_animations(int elapsed_ms);

    wxDECLARE_EVENT_TABLE();
};

// The animation list (GUI thread only). start_animation puts a window at the head unless it
// is listed already; stop_animation unlinks a listed window (others: nothing happens).
void start_animation(qorl_embedded_window *window);
void stop_animation(qorl_embedded_window *window);
// Ticks every listed window with elapsed_ms; a window whose callback returns 0 leaves the list,
// and the windows after it are still ticked in the same pass.
void run_animations(int elapsed_ms);

// A percentage as a horizontal bar: the done part from the left in the filled colour, the rest
// in the empty colour; no border, frame line or text.
class qorl_progress_bar : public qorl_embedded_window {
  public:
    // 20 x 20, no border; percent 0, filled colour (0, 255, 0), empty colour (0, 0, 0).
    qorl_progress_bar(wxWindow *parent, wxWindowID id, const wxString &name);
    ~qorl_progress_bar() override;

    // Store a colour; nothing is redrawn.
    void set_filled_colour(int r, int g, int b);
    void set_empty_colour(int r, int g, int b);
    // Stores the value to show and does nothing else; the one call that is safe from another
    // thread (whoever calls it then makes the GUI thread run redraw_if_changed).
    void store_percent(double percent);
    // Stores the value, then redraw_if_changed.
    void set_percent(double percent);
    // redraw(false) when the stored percent differs from the last one drawn (a NaN on either
    // side counts as different).
    void redraw_if_changed();
    // The stored percent (any thread) and the one last drawn (GUI thread; -1 before any).
    double get_percent() const { return percent.load(); }
    double get_last_drawn_percent() const { return last_drawn_percent; }

    // A full repaint without erasing; resized is ignored.
    void redraw(bool resized) override;
    // The bar at width * percent / 100 columns, truncated and held within 0..width (below 0 or
    // NaN: empty; above 100: full).
    void draw_contents(qorl_bitmap *buffer) override;

  private:
    double last_drawn_percent;
    std::atomic<double> percent;
    pixel_colour filled_colour;
    pixel_colour empty_colour;
};
