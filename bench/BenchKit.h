#pragma once
// What the benchmarks against curl share: the best of a few timed runs, peak resident sizes, shell
// commands that must succeed, and large test files written and compared without holding them in memory.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <sys/resource.h>

namespace bench {

// The best of a few runs: the machine is shared, and the best run is the one least disturbed.
constexpr int Runs = 3;

inline double SecondsOf(const std::function<void()>& Work) {
    double Best = 0;
    for (int Run = 0; Run < Runs; ++Run) {
        const auto Start = std::chrono::steady_clock::now();
        Work();
        const double Seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
        if (Run == 0 || Seconds < Best) Best = Seconds;
    }
    return Best;
}

// RUSAGE_SELF or RUSAGE_CHILDREN.
inline long PeakRssKb(int Who) {
    rusage Usage{};
    getrusage(Who, &Usage);
    return Usage.ru_maxrss;
}

inline void Run(const std::string& Command) {
    if (std::system(Command.c_str()) != 0) throw std::runtime_error("failed: " + Command);
}

// A large file written in pieces, so that the benchmark's own memory stays small.
inline void WriteLargeFile(const std::string& FileName, size_t Megabytes) {
    std::ofstream Out(FileName, std::ios::binary | std::ios::trunc);
    std::string Piece(1 << 20, '\0');
    for (size_t M = 0; M < Megabytes; ++M) {
        for (size_t I = 0; I < Piece.size(); ++I) Piece[I] = static_cast<char>((I * 31 + M * 7) & 0xFF);
        Out.write(Piece.data(), static_cast<std::streamsize>(Piece.size()));
    }
    if (!Out) throw std::runtime_error("cannot write " + FileName);
}

inline bool SameFiles(const std::string& A, const std::string& B) {
    return std::system(("cmp -s '" + A + "' '" + B + "'").c_str()) == 0;
}

inline void Report(const char* What, double Ours, double Curl) {
    std::printf("%-46s TVexHTTP %8.3f s   curl %8.3f s   ratio %5.2f\n", What, Ours, Curl, Ours / Curl);
}

} // namespace bench
