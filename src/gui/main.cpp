#include "app/ProgramOptions.h"
#include "gui/TVindralApplication.h"
#include "platform/DescriptorLimit.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr const char* About = "The Vindral window: checks the proxy list against the target pages.";
constexpr const char* Footer = "The window's own options of Qt (such as -platform) are taken too.";

TParsedOptions Parse(int Argc, char** Argv, TForeignArguments Foreign) {
    return ParseProgramOptions(std::vector<std::string>(Argv + 1, Argv + Argc), "vindral", About, Footer,
                               Foreign);
}

} // namespace

int main(int Argc, char** Argv) {
    // Read once before the toolkit starts, so that --help, --version and a bad value need no display; the
    // toolkit's own options are left to it, and whatever neither takes is refused once it has taken its own.
    TParsedOptions Parsed = Parse(Argc, Argv, TForeignArguments::Allow);
    if (Parsed.Outcome == TOptionsOutcome::Run) {
        TVindralApplication App(Argc, Argv);
        Parsed = Parse(Argc, Argv, TForeignArguments::Refuse);
        if (Parsed.Outcome == TOptionsOutcome::Run) {
            if (Parsed.Options.Jobs > 1) platform::RaiseDescriptorLimit();
            return App.Run(Parsed.Options);
        }
    }
    if (Parsed.Outcome == TOptionsOutcome::Help || Parsed.Outcome == TOptionsOutcome::Version) {
        std::fputs(Parsed.Text.c_str(), stdout);
        return 0;
    }
    std::fprintf(stderr, "vindral: %s (see --help)\n", Parsed.Text.c_str());
    return 2;
}
