#pragma once
// Move-only owner of a file descriptor.
#include <unistd.h>
#include <utility>

namespace platform {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int Fd) : Fd(Fd) {}
    UniqueFd(UniqueFd&& Other) noexcept : Fd(std::exchange(Other.Fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& Other) noexcept {
        if (this != &Other) Reset(std::exchange(Other.Fd, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Reset(); }

    int Get() const { return Fd; }
    explicit operator bool() const { return Fd >= 0; }
    int Release() { return std::exchange(Fd, -1); }
    void Reset(int NewFd = -1) {
        if (Fd >= 0) ::close(Fd);
        Fd = NewFd;
    }

private:
    int Fd = -1;
};

} // namespace platform
