#include "TStream.h"

#include "Exceptions.h"

#include <cerrno>
#include <cstring>
#include <string>

void TStream::ReadBuffer(void* Buffer, int64_t Count) {
    if (Count != 0 && Read(Buffer, Count) != Count) throw EStreamReadError("Stream read error");
}

void TStream::WriteBuffer(const void* Buffer, int64_t Count) {
    errno = 0;
    if (Count == 0 || Write(Buffer, Count) == Count) return;
    // A file that the system refused (a full disk, a size limit) says why; a stream of memory does not.
    const int Error = errno;
    throw EStreamWriteError(Error == 0 ? std::string("Stream write error")
                                       : std::string("Stream write error: ") + std::strerror(Error));
}
