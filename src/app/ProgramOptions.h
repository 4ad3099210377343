#pragma once
// The command line both programs take, the window (vindral) and the run without a window (vindral-cli):
//
//   --settings FILE   the settings file (default: qelto.ini beside the program)
//   --pause-max MS    bound of the random pause after each visit (default 15000; 0: none)
//   --jobs N          proxies visited at the same time, 1 to 1000 (default 1: one after another)
//   --timeout MS      time-out of each target's request, redirects included, 1 to 3600000 (default 30000)
//   --ca-file FILE    a certificate authority (PEM) https targets may lead to, besides the system's store
//   --help            the usage, with every option and its default
//   --version         the program's name and version
//
// "--option VALUE" and "--option=VALUE" are both taken, and a later option overrides an earlier one.
#include <functional>
#include <string>
#include <vector>

class TForm1;

namespace CLI {
class App;
}

struct TProgramOptions {
    std::string SettingsFile; // empty: the program's own qelto.ini
    int PauseMax = 15000;
    int Jobs = 1;
    int TimeOut = 30000;
    std::string CaFile{}; // empty: the system's certificate store alone

    // Gives the form the settings file (when one was named), the pause bound, the jobs, the time-out and
    // the certificate authority.
    void ApplyTo(TForm1& Form) const;
};

enum class TOptionsOutcome {
    Run,     // Options hold what to run with
    Help,    // Text holds the usage, for stdout
    Version, // Text holds the program's name and version, one line with its line end, for stdout
    Bad      // Text holds what is wrong, one line without a line end
};

struct TParsedOptions {
    TOptionsOutcome Outcome = TOptionsOutcome::Run;
    TProgramOptions Options;
    std::string Text;
};

// Whether arguments that are no option of ours are an error, or are left for someone else (the window's
// toolkit, which takes its own options only once it has started).
enum class TForeignArguments { Refuse, Allow };

// Adds the options of one program alone to the shared ones, bound to variables of the caller's; they are
// set as the arguments are read. A value refused by an option's check is worded as the shared ones' are.
using TExtraOptions = std::function<void(CLI::App& App)>;

// Reads the arguments that follow the program's name. Program names the program in the usage and in the
// version; About is the usage's description, Footer what follows the options.
TParsedOptions ParseProgramOptions(const std::vector<std::string>& Arguments, const std::string& Program,
                                   const std::string& About, const std::string& Footer,
                                   TForeignArguments Foreign = TForeignArguments::Refuse,
                                   const TExtraOptions& Extra = {});
