// The window's tests run inside one application object of the program's own class, as the window does.
#include "gui/TVindralApplication.h"

#include <gtest/gtest.h>

#include <cstdlib>

int main(int Argc, char** Argv) {
    ::testing::InitGoogleTest(&Argc, Argv);
    // Listing the tests (as the build does to register them) needs no window system.
    if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
    // No window pops up on a desktop when the tests are run by hand.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // The plain Unix event loop: input the tests queue as the window system's own is then delivered (or
    // held back) by processEvents as the desktop's is; the GLib loop leaves input queued from the GUI
    // thread of the offscreen platform until an explicit flush.
    ::setenv("QT_NO_GLIB", "1", 0);
    TVindralApplication App(Argc, Argv);
    // The tests close windows; the application stays for the next test.
    App.setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
