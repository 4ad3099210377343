#include "app/THiddenWindow.h"

#include "framework/Exceptions.h"

#include <cstdint>

namespace {

constexpr const char* WindowClass = "VindralHiddenWindow";

} // namespace

THiddenWindow::THiddenWindow(THandler Handler) : FHandler(std::move(Handler)) {
    platform::WNDCLASS Info;
    if (!platform::GetClassInfo(WindowClass, &Info)) {
        platform::WNDCLASS Class;
        Class.ClassName = WindowClass;
        Class.WndProc = &THiddenWindow::Procedure;
        Class.WndExtra = sizeof(intptr_t);
        // Another thread may have registered it in between; only a class that is still missing fails.
        if (!platform::RegisterClass(Class) && !platform::GetClassInfo(WindowClass, &Info))
            throw Exception("Cannot register the hidden window class");
    }
    FHandle = platform::CreateWindowEx(WindowClass);
    if (!FHandle) throw Exception("Cannot create a hidden window");
    platform::SetWindowLongPtr(FHandle, 0, reinterpret_cast<intptr_t>(this));
}

THiddenWindow::~THiddenWindow() {
    platform::DestroyWindow(FHandle);
}

platform::LRESULT THiddenWindow::Procedure(platform::HWND Window, platform::UINT Message,
                                           platform::WPARAM WParam, platform::LPARAM LParam) {
    auto* Self = reinterpret_cast<THiddenWindow*>(platform::GetWindowLongPtr(Window, 0));
    if (Self && Self->FHandler) Self->FHandler(Message, WParam, LParam);
    return 0;
}
