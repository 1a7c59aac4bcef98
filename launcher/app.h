// The launcher's application object: start-up in OnInit, the exit line in OnExit.
#pragma once

#include <cstdint>

#include <wx/app.h>

struct fixed_text;

class qorl_app : public wxApp {
  public:
    bool OnInit() override;
    int OnExit() override;
};

// Converts a toolkit string to printable ASCII in destination (appended, cut at 5999).
void convert_argument(const wxString &argument, fixed_text &destination);

// Stores the display size in screen_width and screen_height; a width below 1 becomes 640 and
// a height below 1 becomes 480, each with a logged error.
void set_screen_size(int32_t width, int32_t height);
