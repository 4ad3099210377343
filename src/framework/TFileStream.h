#pragma once
// A stream over a file, owned for the stream's lifetime.
#include "TStream.h"

#include <string>

enum class TFileMode {
    Create,   // created private to the user (0600), or emptied when it exists (its mode kept); read and write
    OpenRead, // must exist; read only
    OpenWrite // must exist; write only, positioned at the start
};

class TFileStream : public TStream {
public:
    // Raises EFileCreateError (Create) or EFileOpenError (the open modes) when the file cannot be had.
    TFileStream(const std::string& FileName, TFileMode Mode);
    ~TFileStream() override;

    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void* Buffer, int64_t Count) override;
    int64_t Size() const override;
    int64_t Position() const override;
    void SetPosition(int64_t Value) override;

    const std::string& FileName() const { return FFileName; }
    int Handle() const { return FHandle; }

private:
    std::string FFileName;
    int FHandle = -1;
};
