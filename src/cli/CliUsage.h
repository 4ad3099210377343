#pragma once
// What vindral-cli's --help says around the options the two programs share.
#include "app/ProgramOptions.h"

#include <string>
#include <vector>

// The arguments read as vindral-cli reads them.
TParsedOptions ParseCliOptions(const std::vector<std::string>& Arguments);
