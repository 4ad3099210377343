#include "platform/LookupTable.h"

#include "platform/Immortal.h"

#include <unordered_map>

namespace platform {

LookupTable& LookupTable::Instance() {
    static Immortal<LookupTable> Table;
    return Table.Get();
}

void LookupTable::Started(uintptr_t Handle, HWND Window) {
    std::lock_guard Guard(Lock);
    Pending[Handle] = Window;
}

bool LookupTable::Remove(uintptr_t Handle) {
    std::lock_guard Guard(Lock);
    return Pending.erase(Handle) > 0;
}

void LookupTable::ForgetWindow(HWND Window) {
    std::lock_guard Guard(Lock);
    std::erase_if(Pending, [Window](const auto& Item) { return Item.second == Window; });
}

} // namespace platform
