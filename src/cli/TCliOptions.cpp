#include "cli/TCliOptions.h"

#include <charconv>
#include <optional>

namespace {

// Digits only, no sign or blanks, within int.
std::optional<int> ParseMilliseconds(const std::string& Text) {
    int Value = 0;
    const char* End = Text.data() + Text.size();
    const auto [Stop, Failure] = std::from_chars(Text.data(), End, Value);
    if (Text.empty() || Text[0] == '-' || Failure != std::errc() || Stop != End) return std::nullopt;
    return Value;
}

} // namespace

bool TCliOptions::Parse(const std::vector<std::string>& Arguments, TCliOptions& Options, std::string& Error) {
    for (size_t I = 0; I < Arguments.size(); ++I) {
        const std::string& Argument = Arguments[I];
        if (Argument == "--help" || Argument == "-h") {
            Options.Help = true;
            continue;
        }
        std::string Name = Argument;
        std::optional<std::string> Value;
        if (const size_t Equals = Argument.find('=');
            Argument.rfind("--", 0) == 0 && Equals != std::string::npos) {
            Name = Argument.substr(0, Equals);
            Value = Argument.substr(Equals + 1);
        }
        if (Name != "--settings" && Name != "--pause-max") {
            Error = Argument.rfind("-", 0) == 0 ? "unknown option '" + Argument + "'"
                                                : "unexpected argument '" + Argument + "'";
            return false;
        }
        if (!Value) {
            if (I + 1 == Arguments.size()) {
                Error = "option '" + Name + "' needs a value";
                return false;
            }
            Value = Arguments[++I];
        }
        if (Name == "--settings") {
            if (Value->empty()) {
                Error = "option '--settings' needs a file name";
                return false;
            }
            Options.SettingsFile = *Value;
        } else {
            const std::optional<int> Milliseconds = ParseMilliseconds(*Value);
            if (!Milliseconds) {
                Error = "option '--pause-max' needs a whole number of milliseconds, 0 or more, not '" +
                        *Value + "'";
                return false;
            }
            Options.PauseMax = *Milliseconds;
        }
    }
    return true;
}

std::string CliUsage() {
    return "Usage: vindral-cli [--settings FILE] [--pause-max MS]\n"
           "Runs the proxy list of the settings file as the window's Start does, without a window:\n"
           "one line per event on stdout, the marks saved back to the file after every proxy.\n"
           "\n"
           "  --settings FILE   the settings file (default: the window's qelto.ini)\n"
           "  --pause-max MS    bound of the random pause between two proxies (default 15000; 0: none)\n"
           "  --help            this text\n"
           "\n"
           "SIGINT or SIGTERM stops the run: the proxy being visited keeps its line, the settings are\n"
           "saved and the exit status is 130. Exit status 2: a bad option or an unusable settings file.\n";
}
