#include "TMemoryStream.h"

#include <algorithm>
#include <cstring>

int64_t TMemoryStream::Read(void* Buffer, int64_t Count) {
    if (Count <= 0 || FPosition >= Size()) return 0;
    int64_t N = std::min(Count, Size() - FPosition);
    std::memcpy(Buffer, FData.data() + FPosition, static_cast<size_t>(N));
    FPosition += N;
    return N;
}

int64_t TMemoryStream::Write(const void* Buffer, int64_t Count) {
    if (Count <= 0) return 0;
    if (FPosition + Count > Size()) FData.resize(static_cast<size_t>(FPosition + Count));
    std::memcpy(FData.data() + FPosition, Buffer, static_cast<size_t>(Count));
    FPosition += Count;
    return Count;
}

void TMemoryStream::SetPosition(int64_t Value) { FPosition = std::max<int64_t>(0, Value); }

void TMemoryStream::SetSize(int64_t Value) {
    FData.resize(static_cast<size_t>(std::max<int64_t>(0, Value)));
    FPosition = std::min(FPosition, Size());
}

void TMemoryStream::Clear() {
    FData.clear();
    FPosition = 0;
}
