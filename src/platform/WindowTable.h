#pragma once
// The process-wide table of window classes and live windows. Handles come from a counter and are never
// reused, so a handle outlives its window only as a key that finds nothing.
#include "platform/MessageQueue.h"
#include "platform/Windows.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace platform {

struct WindowEntry {
    HWND Handle = 0;
    WNDPROC Proc = nullptr;
    std::shared_ptr<MessageQueue> Queue;
    std::unique_ptr<std::atomic<intptr_t>[]> Extra;
    size_t ExtraSlots = 0;
    // Held while a message is dispatched to the window and while another thread changes what may reach
    // it (destruction, timers, socket registrations). Recursive because procedures pump re-entrantly.
    std::recursive_mutex DispatchMutex;
    std::atomic<bool> Destroyed{false};
};

class WindowTable {
public:
    static WindowTable& Instance();

    bool AddClass(const WNDCLASS& Class);
    bool FindClass(const std::string& Name, WNDCLASS* Class) const;

    HWND Create(const std::string& ClassName, std::shared_ptr<MessageQueue> Queue);
    std::shared_ptr<WindowEntry> Find(HWND Window) const;
    // Takes the window out of the table and marks it destroyed; null when there was none.
    std::shared_ptr<WindowEntry> Remove(HWND Window);

private:
    mutable std::mutex Lock;
    std::map<std::string, WNDCLASS> Classes;
    std::unordered_map<HWND, std::shared_ptr<WindowEntry>> Windows;
    HWND NextHandle = 1;
};

} // namespace platform
