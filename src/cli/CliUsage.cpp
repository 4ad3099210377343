#include "cli/CliUsage.h"

namespace {

constexpr const char* About =
    "Runs the proxy list of the settings file as the window's Start does, without a window:\n"
    "one line per event on stdout, the marks saved back to the file as the run goes.";

constexpr const char* Footer =
    "SIGINT or SIGTERM stops the run: every proxy being visited keeps its line, the settings are\n"
    "saved and the exit status is 130. Exit status 2: a bad option or an unusable settings file.\n"
    "Exit status 3: this computer ran out of descriptors, memory or disk space during a visit; that\n"
    "line keeps its text, no proxy is marked for it, and the settings are saved.";

} // namespace

TParsedOptions ParseCliOptions(const std::vector<std::string>& Arguments) {
    return ParseProgramOptions(Arguments, "vindral-cli", About, Footer);
}
