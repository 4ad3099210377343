#pragma once
// Makes chosen system calls fail with a chosen errno on one thread, to show how code meets a shortage
// (no descriptor left, no buffer space) without exhausting the process: the sanitizers and the test's
// other threads keep their descriptors. The failure is a seccomp filter, which cannot be lifted again;
// it holds for the calling thread and for every thread that thread starts from then on, so a test
// installs it on a thread of its own.
#include <initializer_list>

// Installs the filter; false when the kernel refuses it (the caller then skips its test).
bool FailSystemCallsOnThisThread(std::initializer_list<long> SystemCalls, int Errno);
