#pragma once
// Whether a settings file can serve a run before the run touches anything. The run reads the file once
// and then replaces it after every proxy by a rename in its folder, with the scratch file beside it, so it
// needs a readable regular file (or none yet) in a folder it can write to.
#include <string>

// Empty when FileName can be used; otherwise what is wrong, as one line.
std::string SettingsFileProblem(const std::string& FileName);
