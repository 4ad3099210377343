#pragma once
// Files for tests that look at what a program leaves on disk: a file's mode, the names in a folder, a
// process number known to be dead, files written with a mode, and a umask or a limit of the process set
// for a while.
#include <string>
#include <sys/resource.h>
#include <sys/types.h>
#include <vector>

// The permission bits of a file (the link itself for a link), -1 when it is missing.
int ModeOf(const std::string& Path);

// The names in a folder, sorted.
std::vector<std::string> NamesIn(const std::string& Folder);

// A process number that belonged to a process which has ended and been reaped.
pid_t DeadPid();

void WriteBytes(const std::string& FileName, const std::string& Bytes, int Mode = 0644);

// Sets the process's umask for the object's life.
class TUmaskScope {
public:
    explicit TUmaskScope(mode_t Mask);
    ~TUmaskScope();
    TUmaskScope(const TUmaskScope&) = delete;
    TUmaskScope& operator=(const TUmaskScope&) = delete;

private:
    mode_t FOld;
};

// Lowers one of the process's limits (setrlimit) for the object's life; Value is the soft limit.
class TLimitScope {
public:
    TLimitScope(int Resource, rlim_t Value);
    ~TLimitScope();
    // Gives the old limit back before the object goes.
    void Restore();
    TLimitScope(const TLimitScope&) = delete;
    TLimitScope& operator=(const TLimitScope&) = delete;

private:
    int FResource;
    rlimit FOld{};
    bool FLowered = false;
};
