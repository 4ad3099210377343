#pragma once
// A hidden window that records what reaches it, and a pump loop bounded by a deadline.
#include "platform/Windows.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace platformtest {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Received {
    platform::HWND Window;
    platform::UINT Message;
    platform::WPARAM WParam;
    platform::LPARAM LParam;
};

// Its messages are handled on the thread that built it.
class RecordingWindow {
public:
    using Handler = std::function<void(RecordingWindow&, const Received&)>;

    explicit RecordingWindow(Handler OnMessage = {}) : OnMessage(std::move(OnMessage)) {
        RegisterOnce();
        Handle = platform::CreateWindowEx(ClassName);
        platform::SetWindowLongPtr(Handle, 0, reinterpret_cast<intptr_t>(this));
    }
    RecordingWindow(const RecordingWindow&) = delete;
    RecordingWindow& operator=(const RecordingWindow&) = delete;
    ~RecordingWindow() { platform::DestroyWindow(Handle); }

    size_t Count(platform::UINT Message) const {
        size_t N = 0;
        for (const auto& M : Messages) N += M.Message == Message;
        return N;
    }

    static constexpr const char* ClassName = "PlatformTestRecorder";
    platform::HWND Handle = 0;
    std::vector<Received> Messages;
    Handler OnMessage;

private:
    static platform::LRESULT Procedure(platform::HWND Window, platform::UINT Message, platform::WPARAM WParam,
                                       platform::LPARAM LParam) {
        auto* Self = reinterpret_cast<RecordingWindow*>(platform::GetWindowLongPtr(Window, 0));
        if (!Self) return platform::DefWindowProc(Window, Message, WParam, LParam);
        const Received Item{Window, Message, WParam, LParam};
        Self->Messages.push_back(Item);
        if (Self->OnMessage) Self->OnMessage(*Self, Item);
        return 0;
    }
    static void RegisterOnce() {
        platform::WNDCLASS Class;
        if (platform::GetClassInfo(ClassName, &Class)) return;
        Class.ClassName = ClassName;
        Class.WndProc = &Procedure;
        Class.WndExtra = sizeof(intptr_t);
        platform::RegisterClass(Class);
    }
};

// Pumps the calling thread's queue until Done() holds or Limit has passed; true when it held.
inline bool PumpUntil(const std::function<bool()>& Done, std::chrono::milliseconds Limit = 5s) {
    const auto Deadline = Clock::now() + Limit;
    for (;;) {
        platform::ProcessMessages();
        if (Done()) return true;
        const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - Clock::now());
        if (Left <= 0ms) return false;
        platform::WaitForWork(static_cast<int>(Left.count()) + 1);
    }
}

} // namespace platformtest
