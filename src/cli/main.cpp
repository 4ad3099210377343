// vindral-cli: the window's run without a window, for servers, cron and SSH sessions.
#include "cli/CliUsage.h"
#include "cli/TCliRun.h"
#include "platform/ApplicationExceptions.h"
#include "platform/DescriptorLimit.h"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // A handler run by the socket layer's pump (a timer's) that fails is reported as the program's own
    // errors are.
    platform::SetApplicationExceptionHandler(
        [](const std::string& Message) { std::fprintf(stderr, "vindral-cli: %s\n", Message.c_str()); });
    const TParsedCliOptions Parsed = ParseCliOptions(std::vector<std::string>(argv + 1, argv + argc));
    switch (Parsed.Outcome) {
    case TOptionsOutcome::Bad:
        std::fprintf(stderr, "vindral-cli: %s (see --help)\n", Parsed.Text.c_str());
        return TCliRun::Unusable;
    case TOptionsOutcome::Help:
    case TOptionsOutcome::Version:
        std::fputs(Parsed.Text.c_str(), stdout);
        return TCliRun::Done;
    case TOptionsOutcome::Run:
        break;
    }
    if (Parsed.Options.Run.Jobs > 1) platform::RaiseDescriptorLimit();
    try {
        return TCliRun(Parsed.Options).Execute();
    } catch (const std::exception& E) {
        std::fprintf(stderr, "vindral-cli: %s\n", E.what());
        return TCliRun::Failed;
    }
}
