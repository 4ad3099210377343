#pragma once
// Exceptions of the socket layer.
#include "framework/Exceptions.h"

class ESockError : public Exception {
public:
    using Exception::Exception;
};

// A transfer stopped by Cancel or by the time-out.
class EAbortError : public ESockError {
public:
    using ESockError::ESockError;
};
