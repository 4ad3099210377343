#include "TFileStream.h"

#include "Exceptions.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

TFileStream::TFileStream(const std::string& FileName, TFileMode Mode) : FFileName(FileName) {
    int Flags = O_CLOEXEC;
    switch (Mode) {
    case TFileMode::Create: Flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    case TFileMode::OpenRead: Flags |= O_RDONLY; break;
    case TFileMode::OpenWrite: Flags |= O_WRONLY; break;
    }
    // A file it creates is private to the user; a file that exists keeps its mode.
    FHandle = ::open(FileName.c_str(), Flags, 0600);
    if (FHandle < 0) {
        std::string Reason = std::strerror(errno);
        if (Mode == TFileMode::Create) throw EFileCreateError("Cannot create file \"" + FileName + "\". " + Reason);
        throw EFileOpenError("Cannot open file \"" + FileName + "\". " + Reason);
    }
}

TFileStream::~TFileStream() {
    if (FHandle >= 0) ::close(FHandle);
}

int64_t TFileStream::Read(void* Buffer, int64_t Count) {
    int64_t Done = 0;
    auto* Out = static_cast<char*>(Buffer);
    while (Done < Count) {
        ssize_t N = ::read(FHandle, Out + Done, static_cast<size_t>(Count - Done));
        if (N < 0 && errno == EINTR) continue;
        if (N <= 0) break;
        Done += N;
    }
    return Done;
}

int64_t TFileStream::Write(const void* Buffer, int64_t Count) {
    int64_t Done = 0;
    const auto* In = static_cast<const char*>(Buffer);
    while (Done < Count) {
        ssize_t N = ::write(FHandle, In + Done, static_cast<size_t>(Count - Done));
        if (N < 0 && errno == EINTR) continue;
        if (N <= 0) break;
        Done += N;
    }
    return Done;
}

int64_t TFileStream::Size() const {
    struct stat St {};
    if (::fstat(FHandle, &St) != 0) return 0;
    return St.st_size;
}

int64_t TFileStream::Position() const { return ::lseek(FHandle, 0, SEEK_CUR); }

void TFileStream::SetPosition(int64_t Value) { ::lseek(FHandle, Value, SEEK_SET); }
