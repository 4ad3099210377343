#pragma once
// The command line of vindral-cli: vindral-cli [--settings FILE] [--pause-max MS] | --help
#include <string>
#include <vector>

struct TCliOptions {
    bool Help = false;
    std::string SettingsFile; // empty: the window's own settings file
    int PauseMax = 15000;     // the window's bound of the pause between two proxies, in ms

    // Reads the arguments that follow the program's name. "--option VALUE" and "--option=VALUE" are both
    // accepted; a later option overrides an earlier one. False with a one-line Error for anything else.
    static bool Parse(const std::vector<std::string>& Arguments, TCliOptions& Options, std::string& Error);
};

// The text --help prints.
std::string CliUsage();
