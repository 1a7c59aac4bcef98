// Registers the launcher's application factory with the toolkit.
#include "launcher/app.h"

wxIMPLEMENT_APP(qorl_app);
