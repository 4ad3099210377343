#pragma once
// A bound of its own for a call that must not hang: a time-out that is never armed or a stop that is
// ignored would otherwise hold the suite until ctest's limit. When the guarded scope has not ended by the
// bound, the program says what hung and aborts, so the test fails at once and by name.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

class THangGuard {
public:
    THangGuard(std::chrono::milliseconds Bound, std::string What)
        : FWhat(std::move(What)), FThread([this, Bound] { Watch(Bound); }) {}
    ~THangGuard() {
        {
            std::lock_guard Lock(FLock);
            FDone = true;
        }
        FChanged.notify_all();
        FThread.join();
    }
    THangGuard(const THangGuard&) = delete;
    THangGuard& operator=(const THangGuard&) = delete;

private:
    void Watch(std::chrono::milliseconds Bound) {
        std::unique_lock Lock(FLock);
        if (FChanged.wait_for(Lock, Bound, [this] { return FDone; })) return;
        std::fprintf(stderr, "%s did not return within %lld ms\n", FWhat.c_str(),
                     static_cast<long long>(Bound.count()));
        std::fflush(stderr);
        std::abort();
    }

    std::string FWhat;
    std::mutex FLock;
    std::condition_variable FChanged;
    bool FDone = false;
    std::thread FThread;
};
