#pragma once
// Storage for a process-wide table that is never destroyed. Look-up workers may still finish after main
// has returned, and must then find the table intact rather than torn down by static destruction.
#include <new>
#include <utility>

namespace platform {

template <typename T> class Immortal {
public:
    template <typename... Args> explicit Immortal(Args&&... Arguments) {
        ::new (static_cast<void*>(Storage)) T(std::forward<Args>(Arguments)...);
    }
    Immortal(const Immortal&) = delete;
    Immortal& operator=(const Immortal&) = delete;

    T& Get() { return *std::launder(reinterpret_cast<T*>(Storage)); }

private:
    alignas(T) unsigned char Storage[sizeof(T)];
};

} // namespace platform
