// The stop signals in a child of the test: the first one is only recorded, a second one ends the
// program at once, the way that signal ends a program that does not handle it.
#include "cli/TStopSignals.h"

#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

namespace {

TEST(StopSignals, FirstIsRecordedSecondEndsAtOnce) {
    EXPECT_EXIT(
        {
            TStopSignals Signals;
            std::raise(SIGINT);
            if (TStopSignals::Received() != SIGINT) ::_exit(1);
            TStopSignals::Pause(60000); // returns at once: the stop has been asked for
            std::raise(SIGTERM);
            ::_exit(0);
        },
        ::testing::KilledBySignal(SIGTERM), "");
}

} // namespace
