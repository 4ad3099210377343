#pragma once
// Files and folders that only this user can open, created so that nothing planted in their place (a link,
// a file, a folder) is ever opened or followed; and the removal of those that processes which died (a
// kill, a crash) left behind.
//
// Names made here carry the creating process's number: "<Prefix><pid>.<six random characters><Suffix>".
// A sweep takes a name of that shape for a leftover only when no process of that number runs, so it never
// touches the work of a live process, nor any other file.
#include "platform/UniqueFd.h"

#include <optional>
#include <string>
#include <sys/types.h>

namespace platform {

// Creates Path as a new file with mode 0600, open for reading and writing. Fails (an empty descriptor,
// errno set) when anything already stands there, a symbolic link included: nothing is followed.
UniqueFd CreateExclusiveFile(const std::string& Path);

// Creates a new file "<Prefix><pid>.<random><Suffix>" as CreateExclusiveFile does, and holds an exclusive
// lock on it until the descriptor closes, so that a sweep in another namespace of process numbers does not
// take it for a leftover either. Name receives the path; an empty descriptor and errno on failure.
UniqueFd CreateUniqueFile(const std::string& Prefix, const std::string& Suffix, std::string& Name);

// Removes the files of Folder named "<Prefix><pid>[.<random>]<Suffix>" whose process no longer runs and
// whose lock nobody holds; links of that name go too (unlinked, never followed), folders stay.
void RemoveLeftoverFiles(const std::string& Folder, const std::string& Prefix, const std::string& Suffix);

// True while a process with that number exists (whoever's it is).
bool ProcessIsRunning(pid_t Pid);

// A folder that only this user can enter (mode 0700), made fresh under Parent as
// "<Parent><Prefix><pid>.<random>/", for files that nobody else may plant, read or replace: a response
// body kept on disk can then have a plain name inside it. The folder goes, with everything in it, when
// the object goes.
class TPrivateFolder {
public:
    // Also removes the folders of the same Prefix that processes no longer running left in Parent (only
    // those owned by this user). Empty, with errno, when the folder cannot be made. Parent ends with "/"
    // or is empty for the current folder.
    static std::optional<TPrivateFolder> Create(const std::string& Parent, const std::string& Prefix);

    TPrivateFolder(TPrivateFolder&& Other) noexcept;
    TPrivateFolder& operator=(TPrivateFolder&& Other) noexcept;
    TPrivateFolder(const TPrivateFolder&) = delete;
    TPrivateFolder& operator=(const TPrivateFolder&) = delete;
    ~TPrivateFolder();

    // The folder, with its trailing "/".
    const std::string& Path() const { return FPath; }
    // Path() + Name.
    std::string File(const std::string& Name) const { return FPath + Name; }

private:
    explicit TPrivateFolder(std::string Path) : FPath(std::move(Path)) {}
    void Remove();

    std::string FPath;
};

} // namespace platform
