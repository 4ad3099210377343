#pragma once
// A stream over a growable block of memory.
#include "TStream.h"

#include <string>
#include <vector>

class TMemoryStream : public TStream {
public:
    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void* Buffer, int64_t Count) override;
    int64_t Size() const override { return static_cast<int64_t>(FData.size()); }
    int64_t Position() const override { return FPosition; }
    void SetPosition(int64_t Value) override;
    void SetSize(int64_t Value);
    void Clear();

    const char* Memory() const { return FData.data(); }
    std::string DataString() const { return std::string(FData.begin(), FData.end()); }

private:
    std::vector<char> FData;
    int64_t FPosition = 0;
};
