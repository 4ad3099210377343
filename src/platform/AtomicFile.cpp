#include "platform/AtomicFile.h"

#include "platform/PrivateFiles.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// As many links in a row as the kernel itself follows.
constexpr int MaxLinkHops = 40;
constexpr const char* TempSuffix = ".tmp";

std::string FolderOf(const std::string& Path) {
    const size_t Slash = Path.rfind('/');
    return Slash == std::string::npos ? std::string() : Path.substr(0, Slash + 1);
}

std::string NameOf(const std::string& Path) {
    const size_t Slash = Path.rfind('/');
    return Slash == std::string::npos ? Path : Path.substr(Slash + 1);
}

// A link is followed when this user made it, or the owner of the folder it stands in, who could have put
// any file there anyway. Anybody else who may write to the folder could aim it at any file of the user's.
bool TrustedLink(const std::string& Path, const struct stat& Link) {
    if (Link.st_uid == ::geteuid()) return true;
    const std::string Folder = FolderOf(Path);
    struct stat FolderStat {};
    return ::stat(Folder.empty() ? "." : Folder.c_str(), &FolderStat) == 0 &&
           Link.st_uid == FolderStat.st_uid;
}

// The file a save of FileName replaces: FileName, or the end of its chain of trusted links. Empty for a
// chain that does not end.
std::optional<std::string> SaveTarget(const std::string& FileName) {
    std::string Path = FileName;
    for (int Hop = 0; Hop < MaxLinkHops; ++Hop) {
        struct stat St {};
        if (::lstat(Path.c_str(), &St) != 0 || !S_ISLNK(St.st_mode) || !TrustedLink(Path, St)) return Path;
        char Buffer[PATH_MAX];
        const ssize_t Length = ::readlink(Path.c_str(), Buffer, sizeof Buffer);
        if (Length <= 0 || static_cast<size_t>(Length) >= sizeof Buffer) return std::nullopt;
        const std::string Next(Buffer, static_cast<size_t>(Length));
        Path = Next.front() == '/' ? Next : FolderOf(Path) + Next;
    }
    return std::nullopt;
}

bool WriteAll(int Fd, const std::string& Bytes) {
    size_t Done = 0;
    while (Done < Bytes.size()) {
        const ssize_t N = ::write(Fd, Bytes.data() + Done, Bytes.size() - Done);
        if (N < 0 && errno == EINTR) continue;
        if (N <= 0) return false;
        Done += static_cast<size_t>(N);
    }
    return true;
}

// Gives the new file the old one's owner and group where this user may (root, or a group of the user's),
// then its mode: a file made private stays private, one shared stays shared.
bool TakeOverAccess(int Fd, const struct stat& Old) {
    if ((Old.st_uid != ::geteuid() || Old.st_gid != ::getegid()) &&
        ::fchown(Fd, Old.st_uid, Old.st_gid) != 0) {
        // Not root: the group at least, where it is one of the user's; failing that the file stays the
        // user's own, and its mode still follows the old one.
        [[maybe_unused]] const int GroupOnly = ::fchown(Fd, static_cast<uid_t>(-1), Old.st_gid);
    }
    return ::fchmod(Fd, Old.st_mode & 07777) == 0;
}

} // namespace

bool ReplaceFileAtomically(const std::string& FileName, const std::string& Bytes) {
    const std::optional<std::string> Target = SaveTarget(FileName);
    if (!Target) return false;
    const std::string Folder = FolderOf(*Target);
    const std::string Prefix = NameOf(*Target) + ".";
    RemoveLeftoverFiles(Folder, Prefix, TempSuffix);

    struct stat Old {};
    const bool Replacing = ::stat(Target->c_str(), &Old) == 0 && S_ISREG(Old.st_mode);
    std::string TempName;
    UniqueFd Fd = CreateUniqueFile(Folder + Prefix, TempSuffix, TempName);
    if (!Fd) return false;
    // Flushed before the rename, so a crash never leaves a renamed file without its content.
    const bool Written =
        WriteAll(Fd.Get(), Bytes) && (!Replacing || TakeOverAccess(Fd.Get(), Old)) && ::fsync(Fd.Get()) == 0;
    if (Written && std::rename(TempName.c_str(), Target->c_str()) == 0) return true;
    ::unlink(TempName.c_str());
    return false;
}

} // namespace platform
