#include "TStream.h"

#include "Exceptions.h"

void TStream::ReadBuffer(void* Buffer, int64_t Count) {
    if (Count != 0 && Read(Buffer, Count) != Count) throw EStreamReadError("Stream read error");
}

void TStream::WriteBuffer(const void* Buffer, int64_t Count) {
    if (Count != 0 && Write(Buffer, Count) != Count) throw EStreamWriteError("Stream write error");
}
