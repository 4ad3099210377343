#include "platform/WindowTable.h"

#include "platform/Immortal.h"

namespace platform {

WindowTable& WindowTable::Instance() {
    static Immortal<WindowTable> Table;
    return Table.Get();
}

bool WindowTable::AddClass(const WNDCLASS& Class) {
    if (Class.ClassName.empty() || Class.WndProc == nullptr || Class.WndExtra < 0) return false;
    std::lock_guard Guard(Lock);
    return Classes.emplace(Class.ClassName, Class).second;
}

bool WindowTable::FindClass(const std::string& Name, WNDCLASS* Class) const {
    std::lock_guard Guard(Lock);
    const auto It = Classes.find(Name);
    if (It == Classes.end()) return false;
    if (Class) *Class = It->second;
    return true;
}

HWND WindowTable::Create(const std::string& ClassName, std::shared_ptr<MessageQueue> Queue) {
    std::lock_guard Guard(Lock);
    const auto It = Classes.find(ClassName);
    if (It == Classes.end()) return 0;
    auto Entry = std::make_shared<WindowEntry>();
    Entry->Handle = NextHandle++;
    Entry->Proc = It->second.WndProc;
    Entry->Queue = std::move(Queue);
    Entry->ExtraSlots = (static_cast<size_t>(It->second.WndExtra) + sizeof(intptr_t) - 1) / sizeof(intptr_t);
    Entry->Extra = std::make_unique<std::atomic<intptr_t>[]>(Entry->ExtraSlots);
    for (size_t I = 0; I < Entry->ExtraSlots; ++I) Entry->Extra[I].store(0);
    Windows.emplace(Entry->Handle, Entry);
    return Entry->Handle;
}

std::shared_ptr<WindowEntry> WindowTable::Find(HWND Window) const {
    std::lock_guard Guard(Lock);
    const auto It = Windows.find(Window);
    return It == Windows.end() ? nullptr : It->second;
}

std::shared_ptr<WindowEntry> WindowTable::Remove(HWND Window) {
    std::lock_guard Guard(Lock);
    const auto It = Windows.find(Window);
    if (It == Windows.end()) return nullptr;
    auto Entry = std::move(It->second);
    Windows.erase(It);
    Entry->Destroyed.store(true);
    return Entry;
}

} // namespace platform
