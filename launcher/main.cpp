// The program entry: keeps every argument convertible, then hands over to the toolkit.
#include "launcher/app.h"

#include "launcher/command_line.h"

wxIMPLEMENT_APP_NO_MAIN(qorl_app);

int main(int argc, char **argv) {
    wxDISABLE_DEBUG_SUPPORT();
    make_arguments_convertible(argc, argv);
    return wxEntry(argc, argv);
}
