#pragma once
// vindral-cli's command line: the options the two programs share, what --help says around them, and the
// options of vindral-cli alone (--format, --output).
#include "app/ProgramOptions.h"
#include "cli/OutputFormat.h"

#include <string>
#include <vector>

struct TCliOptions {
    TProgramOptions Run;
    TOutputFormat Format = TOutputFormat::Text;
    std::string OutputFile; // empty: none written
};

struct TParsedCliOptions {
    TOptionsOutcome Outcome = TOptionsOutcome::Run;
    TCliOptions Options;
    std::string Text; // as TParsedOptions::Text
};

// The arguments read as vindral-cli reads them.
TParsedCliOptions ParseCliOptions(const std::vector<std::string>& Arguments);
