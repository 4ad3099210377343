#include "cli/WorkingProxiesFile.h"

#include "app/ProxyList.h"
#include "cli/TerminalText.h"
#include "platform/AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string FolderOf(const std::string& FileName) {
    const size_t Slash = FileName.rfind('/');
    if (Slash == std::string::npos) return ".";
    return Slash == 0 ? "/" : FileName.substr(0, Slash);
}

// The same file when both paths lead to it, through links and ".." as well.
bool SameFile(const std::string& A, const std::string& B) {
    std::error_code Error;
    const auto CanonicalA = std::filesystem::weakly_canonical(std::filesystem::absolute(A), Error);
    if (Error) return A == B;
    const auto CanonicalB = std::filesystem::weakly_canonical(std::filesystem::absolute(B), Error);
    if (Error) return A == B;
    return CanonicalA == CanonicalB;
}

} // namespace

void TWorkingProxies::Add(const TVisitResult& Result) {
    // A line marked by the run is the proxy rebuilt from host and port, then the mark.
    if (Result.Mark == TProxyMark::Success) FByIndex[Result.Index] = ProxyKey(Result.Line);
}

std::string TWorkingProxies::Text() const {
    std::string Out;
    // Two lines may name one proxy ("h:80" and "h:080" differ as keys but are rewritten alike).
    std::set<std::string> Written;
    for (const auto& [Index, Proxy] : FByIndex) {
        const std::string Line = LineText(Proxy);
        if (Written.insert(Line).second) Out += Line + "\n";
    }
    return Out;
}

bool TWorkingProxies::Write(const std::string& FileName) const {
    return platform::ReplaceFileAtomically(FileName, Text());
}

std::string OutputFileProblem(const std::string& FileName, const std::string& SettingsFile) {
    const std::string Start = "cannot write the output file '" + FileName + "': ";
    if (SameFile(FileName, SettingsFile)) return Start + "it is the settings file";
    struct stat Status {};
    if (::stat(FileName.c_str(), &Status) == 0) {
        // A device or a pipe would be replaced by a file of that name (as root, in /dev), not written to.
        if (!S_ISREG(Status.st_mode))
            return Start + (S_ISDIR(Status.st_mode) ? "it is a folder" : "not a regular file");
    } else if (errno != ENOENT) {
        return Start + std::strerror(errno);
    }
    const std::string Folder = FolderOf(FileName);
    if (::access(Folder.c_str(), W_OK | X_OK) != 0)
        return "cannot write the output file '" + FileName + "' in '" + Folder + "': " + std::strerror(errno);
    return {};
}
