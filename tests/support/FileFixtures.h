#pragma once
// Files for tests that look at what a program leaves on disk: a scratch folder that goes with the test,
// a file's mode and link, and process numbers known to be dead or alive.
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

// A new folder under the system's temporary folder, removed with its content when the object goes.
class TScratchFolder {
public:
    TScratchFolder();
    ~TScratchFolder();
    TScratchFolder(const TScratchFolder&) = delete;
    TScratchFolder& operator=(const TScratchFolder&) = delete;

    // With its trailing "/".
    const std::string& Path() const { return FPath; }

private:
    std::string FPath;
};

// The permission bits of a file (the link itself for a link), -1 when it is missing.
int ModeOf(const std::string& Path);

// The names in a folder, sorted.
std::vector<std::string> NamesIn(const std::string& Folder);

// A process number that belonged to a process which has ended and been reaped.
pid_t DeadPid();

std::string ReadBytes(const std::string& FileName);
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
