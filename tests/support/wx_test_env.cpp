// Test support: toolkit start-up and event pumping shared by the in-process GUI tests.
#include "tests/support/wx_test_env.h"

#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/init.h>

namespace {

std::unique_ptr<wxGUIEventLoop> loop;

} // namespace

void start_test_toolkit(const char *program_name) {
    wxApp::SetInstance(new wxApp());
    // The toolkit keeps argv for the program's life.
    static std::string name;
    static char *argv[2];
    static int argc = 1;
    name = program_name;
    argv[0] = &name[0];
    argv[1] = nullptr;
    ASSERT_TRUE(wxEntryStart(argc, argv)) << "no display?";
    ASSERT_TRUE(wxTheApp->CallOnInit());
    loop = std::make_unique<wxGUIEventLoop>();
    wxEventLoopBase::SetActive(loop.get());
}

void stop_test_toolkit() {
    wxEventLoopBase::SetActive(nullptr);
    loop.reset();
    wxEntryCleanup();
}

bool pump_test_toolkit_until(const std::function<bool()> &done, int timeout_ms, bool with_idle) {
    return wait_until(
        [&] {
            wxTheApp->ProcessPendingEvents();
            wxEventLoopBase::GetActive()->YieldFor(wxEVT_CATEGORY_ALL);
            if (with_idle)
                wxTheApp->ProcessIdle();
            return done();
        },
        timeout_ms);
}
