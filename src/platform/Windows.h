#pragma once
// Hidden windows, the per-thread message queue, window timers and the message pump.
//
// A window is a handle bound to a procedure, to one object reference and to the thread that created it.
// Messages posted to it (from any thread) are dispatched by that thread's pump in arrival order.
// Handles are never reused, so a message for a destroyed window is dropped. A window may be destroyed
// from any thread; the call waits until a dispatch to that window in progress on its thread has returned.
#include <cstdint>
#include <functional>
#include <string>

namespace platform {

using HWND = uint64_t;
using UINT = uint32_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using WNDPROC = LRESULT (*)(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam);

constexpr UINT WM_ACTIVATEAPP = 28;
constexpr UINT WM_TIMER = 275;
constexpr UINT WM_USER = 0x400;

struct WNDCLASS {
    std::string ClassName;
    WNDPROC WndProc = nullptr;
    int WndExtra = 0; // bytes of extra storage; slot 0 holds the object reference
};

// Class registration is process-wide and lasts for the life of the process.
bool GetClassInfo(const std::string& ClassName, WNDCLASS* Info);
bool RegisterClass(const WNDCLASS& Class);

// Creates a hidden window of a registered class on the calling thread; 0 when the class is unknown.
HWND CreateWindowEx(const std::string& ClassName);
bool DestroyWindow(HWND Window);
bool IsWindow(HWND Window);

// Extra slot 0 of the window: the reference to the object it is bound to.
void SetWindowLongPtr(HWND Window, int Index, intptr_t Value);
intptr_t GetWindowLongPtr(HWND Window, int Index);

LRESULT DefWindowProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam);

// Thread-safe; wakes the window's thread. False when the window does not exist.
bool PostMessage(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam);

// Window timers: a due timer queues one WM_TIMER (Id in WParam), never more than one pending per
// timer; a start always begins a full new period. Killing a timer also drops its pending tick.
// SetTimer returns Id, or 0 when the window does not exist or the interval is 0.
uintptr_t SetTimer(HWND Window, uintptr_t Id, UINT Milliseconds);
bool KillTimer(HWND Window, uintptr_t Id);
// Starts (a full new period) or stops timer Id of Window as Interval() decides at the moment the change
// is made (0 stops it). Interval is called under the lock that orders the window's dispatches and timer
// changes, so two threads that change what a timer should do leave it as the later of them asked. False
// when a start was asked for and the window does not exist.
bool ApplyTimer(HWND Window, uintptr_t Id, const std::function<UINT()>& Interval);

// The pump: turns socket readiness and due timers of the calling thread into messages, dispatches
// every pending message of the thread in arrival order, then runs the event hook (if any).
void ProcessMessages();
// The same without the event hook (for a toolkit that calls in from its own loop).
void DispatchPendingMessages();

// Blocks until the calling thread's queue has work (a posted message, a ready socket, a due timer),
// WatchFd reports one of WatchEvents (poll events; -1 for none), or MaxMilliseconds have passed.
// While an event hook is installed the wait lasts a few milliseconds at most, so the toolkit's own
// events are served. Returns at once when messages are already pending.
void WaitForWork(int MaxMilliseconds, int WatchFd = -1, short WatchEvents = 0);

// A file descriptor that is readable whenever the calling thread's queue has work; a toolkit watches it
// and calls DispatchPendingMessages.
int QueueFd();

// Runs inside ProcessMessages on the calling thread, so a GUI toolkit's pending events are served
// while the socket layer waits. An empty function removes it.
void SetEventHook(std::function<void()> Hook);

} // namespace platform
