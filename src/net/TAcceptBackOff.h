#pragma once
// Pauses a listener's accept notifications after an accept failed for want of descriptors or buffers.
// The waiting connection stays queued, so the notification would come again at once and fail again, as
// fast as the thread can go. Instead the notification is left off for a pause that doubles with each
// such failure in a row (up to a limit) and is then selected again; a successful accept ends the series.
#include "net/TThreadTimer.h"

#include <cstdint>
#include <memory>

class TDovrel;

class TAcceptBackOff {
public:
    // Its timer belongs to the calling thread, which must be the listener's.
    explicit TAcceptBackOff(TDovrel& Listener);
    ~TAcceptBackOff();
    TAcceptBackOff(const TAcceptBackOff&) = delete;
    TAcceptBackOff& operator=(const TAcceptBackOff&) = delete;

    // After a failed accept with the socket error ErrorNo: pauses when it was this machine's shortage.
    void Failed(int ErrorNo);
    void Succeeded();

    static constexpr uint32_t FirstPauseMs = 50;
    static constexpr uint32_t LongestPauseMs = 1000;

private:
    void Resume();

    TDovrel& FListener;
    std::unique_ptr<TThreadTimer> FTimer;
    uint32_t FPauseMs = 0;
    bool FPaused = false;
};
