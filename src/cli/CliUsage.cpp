#include "cli/CliUsage.h"

#include <CLI/CLI.hpp>

namespace {

constexpr const char* About =
    "Runs the proxy list of the settings file as the window's Start does, without a window: one line\n"
    "per event on stdout, or one JSON object per proxy with --format jsonl; the marks are saved back\n"
    "to the file as the run goes.";

constexpr const char* Footer =
    "On a terminal, a progress line on stderr is kept below the output. SIGINT or SIGTERM stops the run:\n"
    "every proxy being visited keeps its line, the settings are saved (and the --output file written)\n"
    "and the exit status is 130. Exit status 2: a bad option, an unusable settings file or --output\n"
    "file; nothing was changed. Exit status 3: this computer ran out of descriptors, memory or disk\n"
    "space during a visit; that line keeps its text, no proxy is marked for it, and the settings are\n"
    "saved.";

CLI::Validator FormatName() {
    return CLI::Validator(
        [](std::string& Value) -> std::string {
            return Value == "text" || Value == "jsonl" ? std::string()
                                                       : "needs text or jsonl, not '" + Value + "'";
        },
        std::string());
}

CLI::Validator NonEmpty(const std::string& What) {
    return CLI::Validator(
        [What](std::string& Value) -> std::string { return Value.empty() ? "needs " + What : std::string(); },
        std::string());
}

} // namespace

TParsedCliOptions ParseCliOptions(const std::vector<std::string>& Arguments) {
    std::string Format = "text";
    std::string OutputFile;
    const auto Extra = [&](CLI::App& App) {
        App.add_option("--format", Format, "how results are written on stdout: text, or jsonl (JSON lines)")
            ->type_name("FORMAT")
            ->check(FormatName())
            ->capture_default_str();
        App.add_option("--output", OutputFile,
                       "at the end, the proxies this run marked (\u25CB), host:port a line")
            ->type_name("FILE")
            ->check(NonEmpty("a file name"));
    };
    TParsedOptions Parsed =
        ParseProgramOptions(Arguments, "vindral-cli", About, Footer, TForeignArguments::Refuse, Extra);
    TParsedCliOptions Result;
    Result.Outcome = Parsed.Outcome;
    Result.Text = std::move(Parsed.Text);
    Result.Options.Run = Parsed.Options;
    Result.Options.Format = Format == "jsonl" ? TOutputFormat::Jsonl : TOutputFormat::Text;
    Result.Options.OutputFile = OutputFile;
    return Result;
}
