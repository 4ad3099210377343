#include "cli/SettingsFileCheck.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string FolderOf(const std::string& FileName) {
    const size_t Slash = FileName.rfind('/');
    if (Slash == std::string::npos) return ".";
    return Slash == 0 ? "/" : FileName.substr(0, Slash);
}

std::string Reason(int Error) {
    return std::strerror(Error);
}

} // namespace

std::string SettingsFileProblem(const std::string& FileName) {
    struct stat Status {};
    if (::stat(FileName.c_str(), &Status) == 0) {
        // Anything but a regular file would be replaced by the first save (a device, as root) or could
        // never be replaced (a folder).
        if (!S_ISREG(Status.st_mode))
            return "cannot read the settings file '" + FileName +
                   "': " + (S_ISDIR(Status.st_mode) ? "it is a folder" : "not a regular file");
        const int Fd = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC);
        if (Fd < 0) return "cannot read the settings file '" + FileName + "': " + Reason(errno);
        ::close(Fd);
    } else if (errno != ENOENT) {
        return "cannot read the settings file '" + FileName + "': " + Reason(errno);
    }
    // A missing file is fine, as at the window's first start, as long as the folder takes the new one.
    const std::string Folder = FolderOf(FileName);
    if (::access(Folder.c_str(), W_OK | X_OK) != 0)
        return "cannot write the settings file '" + FileName + "' in '" + Folder + "': " + Reason(errno);
    return {};
}
