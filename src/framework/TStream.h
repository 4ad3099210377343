#pragma once
// A seekable byte stream.
#include <cstdint>

class TStream {
public:
    virtual ~TStream() = default;

    // Reads up to Count bytes at the position; returns how many were read.
    virtual int64_t Read(void* Buffer, int64_t Count) = 0;
    // Writes up to Count bytes at the position; returns how many were written.
    virtual int64_t Write(const void* Buffer, int64_t Count) = 0;
    virtual int64_t Size() const = 0;
    virtual int64_t Position() const = 0;
    virtual void SetPosition(int64_t Value) = 0;

    // Whole-buffer forms: a short read or write raises EStreamReadError / EStreamWriteError.
    void ReadBuffer(void* Buffer, int64_t Count);
    void WriteBuffer(const void* Buffer, int64_t Count);
};
