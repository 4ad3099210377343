// vindral-cli: the window's run without a window, for servers, cron and SSH sessions.
#include "cli/TCliOptions.h"
#include "cli/TCliRun.h"
#include "platform/ApplicationExceptions.h"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // A handler run by the socket layer's pump (a timer's) that fails is reported as the program's own
    // errors are.
    platform::SetApplicationExceptionHandler(
        [](const std::string& Message) { std::fprintf(stderr, "vindral-cli: %s\n", Message.c_str()); });
    TCliOptions Options;
    std::string Error;
    if (!TCliOptions::Parse(std::vector<std::string>(argv + 1, argv + argc), Options, Error)) {
        std::fprintf(stderr, "vindral-cli: %s (see --help)\n", Error.c_str());
        return TCliRun::Unusable;
    }
    if (Options.Help) {
        std::fputs(CliUsage().c_str(), stdout);
        return TCliRun::Done;
    }
    try {
        return TCliRun(Options).Execute();
    } catch (const std::exception& E) {
        std::fprintf(stderr, "vindral-cli: %s\n", E.what());
        return TCliRun::Failed;
    }
}
