#include "platform/ApplicationExceptions.h"

#include <cstdio>
#include <exception>
#include <mutex>

namespace platform {

namespace {

constexpr const char* UnknownExceptionText = "Unknown exception";

struct HandlerSlot {
    std::mutex Lock;
    ApplicationExceptionHandler Handler;
};

HandlerSlot& Slot() {
    static HandlerSlot Instance;
    return Instance;
}

std::string MessageOfCurrentException() {
    try {
        throw;
    } catch (const std::exception& E) {
        // The framework's exceptions derive from std::exception; their what() is their message.
        return E.what();
    } catch (...) {
        return UnknownExceptionText;
    }
}

} // namespace

void SetApplicationExceptionHandler(ApplicationExceptionHandler Handler) {
    std::lock_guard Guard(Slot().Lock);
    Slot().Handler = std::move(Handler);
}

void HandleApplicationException() noexcept {
    try {
        const std::string Message =
            std::current_exception() ? MessageOfCurrentException() : UnknownExceptionText;
        ApplicationExceptionHandler Handler;
        {
            std::lock_guard Guard(Slot().Lock);
            Handler = Slot().Handler;
        }
        // Called outside the lock: a handler may show a modal box that pumps, and a tick dispatched there
        // may fail and report in turn.
        if (Handler)
            Handler(Message);
        else
            std::fprintf(stderr, "%s\n", Message.c_str());
    } catch (...) {
        // Reporting a failure must not fail the pump that reports it.
    }
}

} // namespace platform
