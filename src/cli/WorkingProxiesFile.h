#pragma once
// The --output file: the proxies a run marked (○), one "host:port" a line, in the order of the list, each
// once, in UTF-8 with control characters escaped as the result lines print them. It is written once, at
// the end of the run (a stopped one too), in one step, so a reader never sees half of it.
#include "app/Unit1.h"

#include <map>
#include <string>

class TWorkingProxies {
public:
    // Takes the proxy of a result marked (○); any other result is passed over.
    void Add(const TVisitResult& Result);
    // The file's content: empty when the run marked none.
    std::string Text() const;
    // Replaces FileName with the content as the settings file is replaced (a temporary file beside it,
    // renamed over it; the old file is left whole on failure). True when written.
    bool Write(const std::string& FileName) const;

private:
    std::map<int, std::string> FByIndex; // list index -> host:port, as the run wrote it (Shift-JIS)
};

// Empty when FileName can take the output at the end of a run: it names no folder or device, nor the
// settings file, and its folder takes a new file. Otherwise what is wrong, as one line.
std::string OutputFileProblem(const std::string& FileName, const std::string& SettingsFile);
