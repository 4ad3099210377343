#pragma once
// The name look-ups under way in the process: a look-up's completion is delivered only while its
// handle is listed, so a cancelled look-up never answers and never writes into the caller's buffer.
#include "platform/Windows.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace platform {

class LookupTable {
public:
    static LookupTable& Instance();

    // A look-up for Window was started under Handle.
    void Started(uintptr_t Handle, HWND Window);
    // Takes Handle off the list; false when it was not on it (answered, cancelled, or unknown).
    bool Remove(uintptr_t Handle);
    // Forgets the look-ups of a window that is gone: their completions could reach nobody.
    void ForgetWindow(HWND Window);

private:
    std::mutex Lock;
    std::unordered_map<uintptr_t, HWND> Pending;
};

} // namespace platform
