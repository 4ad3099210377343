// The stop signals in a child of the test: the first one is only recorded, a second one ends the
// program at once, the way that signal ends a program that does not handle it.
#include "cli/TStopSignals.h"

#include <gtest/gtest.h>

#include <cerrno>
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

// While installed, a write to a pipe nobody reads fails instead of ending the program, and the output
// that meets the failure asks for the stop as a signal does; afterwards SIGPIPE is as it was.
TEST(StopSignals, AClosedPipeFailsAWriteAndStopIsRecordedLikeASignal) {
    EXPECT_EXIT(
        {
            int Pipe[2];
            if (::pipe(Pipe) != 0) ::_exit(1);
            ::close(Pipe[0]);
            {
                TStopSignals Signals;
                if (::write(Pipe[1], "x", 1) != -1 || errno != EPIPE) ::_exit(2);
                TStopSignals::Stop(SIGPIPE);
                TStopSignals::Stop(SIGINT); // the first cause stays
                if (TStopSignals::Received() != SIGPIPE) ::_exit(3);
            }
            [[maybe_unused]] const ssize_t Written = ::write(Pipe[1], "x", 1);
            ::_exit(4);
        },
        ::testing::KilledBySignal(SIGPIPE), "");
}

} // namespace
