#pragma once
// A hidden window of the calling thread bound to a handler: messages posted to it from any thread are
// handled on that thread, by its pump. Owns the window; destroying it drops what is still queued.
#include "platform/Windows.h"

#include <functional>

class THiddenWindow {
public:
    using THandler =
        std::function<void(platform::UINT Message, platform::WPARAM WParam, platform::LPARAM LParam)>;

    // Throws Exception when the window cannot be made (no message queue for the thread).
    explicit THiddenWindow(THandler Handler);
    ~THiddenWindow();
    THiddenWindow(const THiddenWindow&) = delete;
    THiddenWindow& operator=(const THiddenWindow&) = delete;

    platform::HWND Handle() const { return FHandle; }
    // Thread-safe; false when the window is gone.
    bool Post(platform::UINT Message, platform::WPARAM WParam = 0, platform::LPARAM LParam = 0) const {
        return platform::PostMessage(FHandle, Message, WParam, LParam);
    }

private:
    static platform::LRESULT Procedure(platform::HWND Window, platform::UINT Message, platform::WPARAM WParam,
                                       platform::LPARAM LParam);

    THandler FHandler;
    platform::HWND FHandle = 0;
};
