#pragma once
// The application's exception handler: where an exception that escapes a handler run by the message
// pump (a timer's OnTimer, a window procedure) is reported to the user. The window shows it in its
// exception box, the console program writes it to standard error; until a program installs its own,
// the message goes to standard error.
#include <functional>
#include <string>

namespace platform {

// Receives the exception's message (the system's Shift-JIS bytes). It may be called on any thread
// that pumps messages.
using ApplicationExceptionHandler = std::function<void(const std::string& Message)>;

// Installs Handler for the whole process; an empty function restores the default.
void SetApplicationExceptionHandler(ApplicationExceptionHandler Handler);

// Reports the exception being handled (call it inside a catch block) through the handler. Never
// throws: a handler that fails is ignored.
void HandleApplicationException() noexcept;

} // namespace platform
