#pragma once
// Failures of this computer rather than of a proxy. A visit that ends with one says nothing about the
// proxy: no descriptor or buffer space left for a socket, no memory, or a scratch file that cannot be
// made or written (a full disk). Trying the next proxy would fail the same way, so a run leaves such a
// line unmarked instead of marking a working proxy as failed.
#include "framework/Exceptions.h"

#include <exception>
#include <string>

bool IsLocalFailure(const std::exception_ptr& Error);

// The words that say why, for the status line and the user: the exception's message, with the socket
// error number where the message does not name it.
std::string LocalFailureReason(const std::exception_ptr& Error);

// The status line of a run that stopped at the line of Index (0-based; -1 before any line).
std::string LocalStopText(int Index, const std::string& Reason);
// The status line of a run of many at once that puts the line of Index back and goes on with AtATime
// visits at a time.
std::string LocalRetryText(int Index, const std::string& Reason, int AtATime);

// Raised out of a run that a local failure ended; its message says why and which line was left.
class ELocalFailure : public Exception {
public:
    using Exception::Exception;
};
