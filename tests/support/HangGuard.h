#pragma once
// A watchdog for a call that must return in time: when the guarding scope is still open after its bound,
// the test program says what hung and aborts. A wait that never ends then fails its own test within a
// few seconds, instead of holding the whole run until the test runner's limit.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

class HangGuard {
public:
    HangGuard(std::string What, std::chrono::milliseconds Bound)
        : FThread([this, What = std::move(What), Bound] {
              std::unique_lock Lock(FLock);
              if (FChanged.wait_for(Lock, Bound, [this] { return FDone; })) return;
              std::fprintf(stderr, "%s: still running after %lld ms\n", What.c_str(),
                           static_cast<long long>(Bound.count()));
              std::fflush(stderr);
              std::abort();
          }) {}
    ~HangGuard() {
        {
            std::lock_guard Lock(FLock);
            FDone = true;
        }
        FChanged.notify_all();
        FThread.join();
    }
    HangGuard(const HangGuard&) = delete;
    HangGuard& operator=(const HangGuard&) = delete;

private:
    std::mutex FLock;
    std::condition_variable FChanged;
    bool FDone = false;
    std::thread FThread; // last: it starts once the members it uses exist
};
