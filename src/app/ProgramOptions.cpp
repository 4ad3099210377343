#include "app/ProgramOptions.h"

#include "app/Unit1.h"
#include "net/SocketErrors.h"
#include "net/TTlsChannel.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <limits>
#include <memory>

namespace {

constexpr int MaxJobs = 1000;
constexpr int MaxTimeOut = 3600000; // an hour: a longer wait for one proxy is a mistake, not a wish

// Plain decimal digits, no sign, blank or prefix, from Low to High: what a count or a time is written as.
CLI::Validator WholeNumber(int Low, int High) {
    return CLI::Validator(
        [Low, High](std::string& Value) -> std::string {
            int Number = 0;
            const char* End = Value.data() + Value.size();
            const auto [Stop, Failure] = std::from_chars(Value.data(), End, Number);
            const bool Digits = !Value.empty() && std::all_of(Value.begin(), Value.end(),
                                                              [](char C) { return C >= '0' && C <= '9'; });
            if (Digits && Failure == std::errc() && Stop == End && Number >= Low && Number <= High) return {};
            return "needs a whole number from " + std::to_string(Low) + " to " + std::to_string(High) +
                   ", not '" + Value + "'";
        },
        std::string());
}

CLI::Validator NonEmpty(const std::string& What) {
    return CLI::Validator(
        [What](std::string& Value) -> std::string { return Value.empty() ? "needs " + What : std::string(); },
        std::string());
}

// A file of certificate authorities that loads, so that a wrong name fails the start, not every https
// request of the run.
CLI::Validator CertificateAuthorities() {
    return CLI::Validator(
        [](std::string& Value) -> std::string {
            if (Value.empty()) return "needs a file name";
            try {
                TTlsContext Probe(Value);
            } catch (const ESockError& E) {
                const std::string& Text = E.Message;
                const size_t Reason = Text.rfind(": ");
                return "needs a PEM file of certificate authorities, not '" + Value + "'" +
                       (Reason == std::string::npos ? std::string() : " (" + Text.substr(Reason + 2) + ")");
            }
            return {};
        },
        std::string());
}

// The usage line first, then what the program does, the options and the closing notes.
class TUsageFirst : public CLI::Formatter {
public:
    std::string make_help(const CLI::App* App, std::string Name, CLI::AppFormatMode Mode) const override {
        if (Mode == CLI::AppFormatMode::Sub) return CLI::Formatter::make_help(App, Name, Mode);
        return make_usage(App, Name) + "\n" + make_description(App) + make_groups(App, Mode) + "\n" +
               make_footer(App) + "\n";
    }
};

// "--jobs: needs ..." as CLI11 words it, as "option '--jobs' needs ...".
std::string OptionMessage(const std::string& Text) {
    const size_t Colon = Text.find(": ");
    if (Text.rfind("--", 0) != 0 || Colon == std::string::npos) return Text;
    return "option '" + Text.substr(0, Colon) + "' " + Text.substr(Colon + 2);
}

} // namespace

void TProgramOptions::ApplyTo(TForm1& Form) const {
    if (!SettingsFile.empty()) Form.SetSettingsFile(SettingsFile);
    Form.PauseMax = PauseMax;
    Form.Jobs = Jobs;
    Form.VisitTimeOut = TimeOut;
    Form.CaFile = CaFile;
}

TParsedOptions ParseProgramOptions(const std::vector<std::string>& Arguments, const std::string& Program,
                                   const std::string& About, const std::string& Footer,
                                   TForeignArguments Foreign, const TExtraOptions& Extra) {
    TParsedOptions Parsed;
    TProgramOptions& Options = Parsed.Options;
    CLI::App App(About, Program);
    App.footer(Footer);
    App.allow_extras(true);
    App.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    App.formatter(std::make_shared<TUsageFirst>());
    App.get_formatter()->column_width(24);
    App.set_version_flag("--version", Program + " " + VINDRAL_VERSION,
                         "Print the program's name and version and exit");

    App.add_option("--settings", Options.SettingsFile,
                   "the settings file (default: qelto.ini beside the program)")
        ->type_name("FILE")
        ->check(NonEmpty("a file name"));
    App.add_option("--pause-max", Options.PauseMax,
                   "bound of the random pause after each visit, in ms; 0: none")
        ->type_name("MS")
        ->check(WholeNumber(0, std::numeric_limits<int>::max()))
        ->capture_default_str();
    App.add_option("--jobs", Options.Jobs,
                   "proxies visited at the same time, 1 to 1000; 1: one after another")
        ->type_name("N")
        ->check(WholeNumber(1, MaxJobs))
        ->capture_default_str();
    App.add_option("--timeout", Options.TimeOut,
                   "time-out of each target's request, redirects included, in ms")
        ->type_name("MS")
        ->check(WholeNumber(1, MaxTimeOut))
        ->capture_default_str();
    App.add_option("--ca-file", Options.CaFile,
                   "a certificate authority (PEM) that https targets may lead to, trusted besides the "
                   "system's store")
        ->type_name("FILE")
        ->check(CertificateAuthorities());
    if (Extra) Extra(App);

    std::vector<std::string> Reversed(Arguments.rbegin(), Arguments.rend());
    try {
        App.parse(Reversed);
    } catch (const CLI::CallForHelp&) {
        return {TOptionsOutcome::Help, Options, App.help()};
    } catch (const CLI::CallForVersion& E) {
        return {TOptionsOutcome::Version, Options, std::string(E.what()) + "\n"};
    } catch (const CLI::ArgumentMismatch& E) {
        const std::string Text = E.what();
        return {TOptionsOutcome::Bad, Options,
                "option '" + Text.substr(0, Text.find(':')) + "' needs a value"};
    } catch (const CLI::ParseError& E) {
        return {TOptionsOutcome::Bad, Options, OptionMessage(E.what())};
    }
    if (Foreign == TForeignArguments::Refuse) {
        const std::vector<std::string> Extras = App.remaining();
        if (!Extras.empty()) {
            const std::string& First = Extras.front();
            Parsed.Outcome = TOptionsOutcome::Bad;
            Parsed.Text = First.rfind("-", 0) == 0 && First.size() > 1
                              ? "unknown option '" + First + "'"
                              : "unexpected argument '" + First + "'";
        }
    }
    return Parsed;
}
