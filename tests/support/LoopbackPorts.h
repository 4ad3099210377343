#pragma once
// Loopback ports that answer a connect in a known way, for the failure paths of connecting.
#include <cstdint>

// A port on 127.0.0.1 that is bound but not listening, so a connect to it is refused. It stays bound
// (and so unused by anyone else) for the object's life.
class ClosedPort {
public:
    ClosedPort();
    ~ClosedPort();
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;
    uint16_t Port() const { return FPort; }

private:
    int FFd = -1;
    uint16_t FPort = 0;
};

// A port on 127.0.0.1 whose accept queue is full and never served: a further connect gets no answer at
// all and stays pending until the client gives up.
class UnansweredPort {
public:
    UnansweredPort();
    ~UnansweredPort();
    UnansweredPort(const UnansweredPort&) = delete;
    UnansweredPort& operator=(const UnansweredPort&) = delete;
    uint16_t Port() const { return FPort; }

private:
    int FListener = -1;
    int FFiller = -1;
    uint16_t FPort = 0;
};
