// The launcher's application object: start-up in OnInit, the exit line in OnExit.
#pragma once

#include <wx/app.h>

struct fixed_text;

class qorl_app : public wxApp {
  public:
    bool OnInit() override;
    int OnExit() override;
};

// Converts a toolkit string to printable ASCII in destination (appended, cut at 5999).
void convert_argument(const wxString &argument, fixed_text &destination);
