#pragma once
// Exceptions of the socket layer.
#include "framework/Exceptions.h"

#include <string>

class ESockError : public Exception {
public:
    explicit ESockError(std::string AMessage, int AErrorNo = 0)
        : Exception(std::move(AMessage)), ErrorNo(AErrorNo) {}

    // The socket error number behind the failure (10061 refused, 10024 no descriptor left, ...); 0 when
    // none is (a time-out, a cancel, a reply the protocol does not accept).
    int ErrorNo = 0;
};

// A transfer stopped by Cancel or by the time-out.
class EAbortError : public ESockError {
public:
    using ESockError::ESockError;
};

// A failure of this machine rather than of the peer: no descriptor left (10024) or no buffer space
// (10055). Trying another peer would fail the same way.
inline bool IsLocalSocketError(int ErrorNo) {
    return ErrorNo == 10024 || ErrorNo == 10055;
}
