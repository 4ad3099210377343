#include "platform/PrivateFiles.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace platform {

namespace {

// The random part mkstemp and mkdtemp put in place of "XXXXXX".
constexpr size_t RandomLength = 6;

bool IsRandomCharacter(char C) {
    return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || (C >= '0' && C <= '9');
}

enum class TRandomPart { Optional, Required };

// The process number in a name "<Prefix><pid>[.<random>]<Suffix>", or 0 when the name has another shape.
pid_t LeftoverPid(const std::string& Name, const std::string& Prefix, const std::string& Suffix,
                  TRandomPart Random) {
    if (Name.size() <= Prefix.size() + Suffix.size() || Name.compare(0, Prefix.size(), Prefix) != 0 ||
        Name.compare(Name.size() - Suffix.size(), Suffix.size(), Suffix) != 0)
        return 0;
    const std::string Middle = Name.substr(Prefix.size(), Name.size() - Prefix.size() - Suffix.size());
    size_t Digits = 0;
    while (Digits < Middle.size() && Middle[Digits] >= '0' && Middle[Digits] <= '9') ++Digits;
    if (Digits == 0 || Digits > 9 || Middle[0] == '0') return 0;
    if (Digits < Middle.size()) {
        if (Middle.size() != Digits + 1 + RandomLength || Middle[Digits] != '.') return 0;
        for (size_t I = Digits + 1; I < Middle.size(); ++I)
            if (!IsRandomCharacter(Middle[I])) return 0;
    } else if (Random == TRandomPart::Required) {
        return 0;
    }
    return static_cast<pid_t>(std::atol(Middle.substr(0, Digits).c_str()));
}

bool IsLeftover(pid_t Pid) {
    return Pid > 0 && Pid != ::getpid() && !ProcessIsRunning(Pid);
}

// The names in an open folder, read before anything in it is removed.
std::vector<std::string> NamesIn(int FolderFd) {
    std::vector<std::string> Names;
    const int Fd = ::dup(FolderFd);
    if (Fd < 0) return Names;
    DIR* Listing = ::fdopendir(Fd);
    if (!Listing) {
        ::close(Fd);
        return Names;
    }
    ::rewinddir(Listing);
    while (const dirent* Entry = ::readdir(Listing)) {
        const std::string Name = Entry->d_name;
        if (Name != "." && Name != "..") Names.push_back(Name);
    }
    ::closedir(Listing);
    return Names;
}

UniqueFd OpenFolder(const std::string& Folder) {
    return UniqueFd(::open(Folder.empty() ? "." : Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// Removes the folder Name of ParentFd with everything in it. Every step is relative to an open folder and
// follows no link, so a link put in place of a folder is removed, never what it points to.
void RemoveTree(int ParentFd, const std::string& Name) {
    UniqueFd Fd(::openat(ParentFd, Name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (Fd) {
        for (const std::string& Entry : NamesIn(Fd.Get())) {
            struct stat St {};
            if (::fstatat(Fd.Get(), Entry.c_str(), &St, AT_SYMLINK_NOFOLLOW) != 0) continue;
            if (S_ISDIR(St.st_mode))
                RemoveTree(Fd.Get(), Entry);
            else
                ::unlinkat(Fd.Get(), Entry.c_str(), 0);
        }
    }
    ::unlinkat(ParentFd, Name.c_str(), AT_REMOVEDIR);
}

std::string WithoutTrailingSlash(const std::string& Path) {
    return !Path.empty() && Path.back() == '/' ? Path.substr(0, Path.size() - 1) : Path;
}

std::string FolderPart(const std::string& Path) {
    const size_t Slash = Path.rfind('/');
    return Slash == std::string::npos ? std::string() : Path.substr(0, Slash + 1);
}

std::string NamePart(const std::string& Path) {
    const size_t Slash = Path.rfind('/');
    return Slash == std::string::npos ? Path : Path.substr(Slash + 1);
}

} // namespace

UniqueFd CreateExclusiveFile(const std::string& Path) {
    return UniqueFd(::open(Path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
}

UniqueFd CreateUniqueFile(const std::string& Prefix, const std::string& Suffix, std::string& Name) {
    std::string Template =
        Prefix + std::to_string(::getpid()) + "." + std::string(RandomLength, 'X') + Suffix;
    // Exclusive and 0600 by definition; tries other random parts while the name is taken.
    UniqueFd Fd(::mkostemps(Template.data(), static_cast<int>(Suffix.size()), O_CLOEXEC));
    if (!Fd) return Fd;
    // Cannot fail on a file nobody else has yet; where the file system has no locks, the process number
    // alone guards it.
    ::flock(Fd.Get(), LOCK_EX | LOCK_NB);
    Name = std::move(Template);
    return Fd;
}

void RemoveLeftoverFiles(const std::string& Folder, const std::string& Prefix, const std::string& Suffix) {
    const UniqueFd FolderFd = OpenFolder(Folder);
    if (!FolderFd) return;
    for (const std::string& Name : NamesIn(FolderFd.Get())) {
        if (!IsLeftover(LeftoverPid(Name, Prefix, Suffix, TRandomPart::Optional))) continue;
        struct stat St {};
        if (::fstatat(FolderFd.Get(), Name.c_str(), &St, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISLNK(St.st_mode)) {
            ::unlinkat(FolderFd.Get(), Name.c_str(), 0);
            continue;
        }
        if (!S_ISREG(St.st_mode)) continue;
        const UniqueFd Fd(
            ::openat(FolderFd.Get(), Name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        // A lock held means a writer is at work, whatever its process number looks like from here.
        if (Fd && ::flock(Fd.Get(), LOCK_EX | LOCK_NB) == 0) ::unlinkat(FolderFd.Get(), Name.c_str(), 0);
    }
}

bool ProcessIsRunning(pid_t Pid) {
    return ::kill(Pid, 0) == 0 || errno == EPERM;
}

std::optional<TPrivateFolder> TPrivateFolder::Create(const std::string& Parent, const std::string& Prefix) {
    if (const UniqueFd ParentFd = OpenFolder(Parent)) {
        for (const std::string& Name : NamesIn(ParentFd.Get())) {
            if (!IsLeftover(LeftoverPid(Name, Prefix, "", TRandomPart::Required))) continue;
            struct stat St {};
            if (::fstatat(ParentFd.Get(), Name.c_str(), &St, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISDIR(St.st_mode) && St.st_uid == ::geteuid())
                RemoveTree(ParentFd.Get(), Name);
        }
    }
    std::string Template =
        Parent + Prefix + std::to_string(::getpid()) + "." + std::string(RandomLength, 'X');
    // Mode 0700 by definition.
    if (!::mkdtemp(Template.data())) return std::nullopt;
    return TPrivateFolder(Template + "/");
}

TPrivateFolder::TPrivateFolder(TPrivateFolder&& Other) noexcept : FPath(std::exchange(Other.FPath, {})) {}

TPrivateFolder& TPrivateFolder::operator=(TPrivateFolder&& Other) noexcept {
    if (this != &Other) {
        Remove();
        FPath = std::exchange(Other.FPath, {});
    }
    return *this;
}

TPrivateFolder::~TPrivateFolder() {
    Remove();
}

void TPrivateFolder::Remove() {
    if (FPath.empty()) return;
    const std::string Folder = WithoutTrailingSlash(FPath);
    if (const UniqueFd ParentFd = OpenFolder(FolderPart(Folder)))
        RemoveTree(ParentFd.Get(), NamePart(Folder));
    FPath.clear();
}

} // namespace platform
