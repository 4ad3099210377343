// Throughput of CaptureFile against a plain receive-and-write loop, both taking the same stream from a
// loopback sender into a file in the same folder.
//
//   bench_capture [megabytes=256] [rounds=3]
//
// Each round runs both, alternating; the best of the rounds counts. Target: CaptureFile at 0.9 or more
// of the plain loop.
#include "net/TDovrel.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;
constexpr size_t Chunk = 65536;

// Listens on 127.0.0.1 and sends Bytes bytes to the first client from a buffer made once, then closes.
class TSender {
public:
    explicit TSender(uint64_t Bytes) : FBytes(Bytes) {
        FListener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in Address{};
        Address.sin_family = AF_INET;
        Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t Length = sizeof Address;
        if (::bind(FListener, reinterpret_cast<sockaddr*>(&Address), sizeof Address) != 0 ||
            ::listen(FListener, 1) != 0 ||
            ::getsockname(FListener, reinterpret_cast<sockaddr*>(&Address), &Length) != 0)
            throw std::runtime_error("cannot listen on 127.0.0.1");
        FPort = ntohs(Address.sin_port);
        FThread = std::thread([this] { Run(); });
    }
    ~TSender() {
        FThread.join();
        ::close(FListener);
    }
    uint16_t Port() const { return FPort; }

private:
    void Run() {
        const int Fd = ::accept(FListener, nullptr, nullptr);
        if (Fd < 0) return;
        std::vector<char> Buffer(Chunk);
        for (size_t I = 0; I < Chunk; ++I) Buffer[I] = static_cast<char>(I % 251);
        uint64_t Sent = 0;
        while (Sent < FBytes) {
            const size_t Want = static_cast<size_t>(std::min<uint64_t>(Chunk, FBytes - Sent));
            const ssize_t N = ::send(Fd, Buffer.data(), Want, MSG_NOSIGNAL);
            if (N <= 0) break;
            Sent += static_cast<uint64_t>(N);
        }
        ::close(Fd);
    }

    uint64_t FBytes;
    int FListener = -1;
    uint16_t FPort = 0;
    std::thread FThread;
};

uint64_t FileSize(const std::string& Path) {
    struct stat St {};
    return ::stat(Path.c_str(), &St) == 0 ? static_cast<uint64_t>(St.st_size) : 0;
}

double Seconds(TClock::time_point Start) {
    return std::chrono::duration<double>(TClock::now() - Start).count();
}

double RunCaptureFile(uint64_t Bytes, const std::string& Path) {
    TSender Sender(Bytes);
    TDovrel Socket(nullptr);
    Socket.Host = "127.0.0.1";
    Socket.Port = Sender.Port();
    Socket.Connect();
    const auto Start = TClock::now();
    Socket.CaptureFile(Path);
    const double Time = Seconds(Start);
    if (FileSize(Path) != Bytes) throw std::runtime_error("CaptureFile wrote a file of the wrong size");
    return Time;
}

double RunPlainLoop(uint64_t Bytes, const std::string& Path) {
    TSender Sender(Bytes);
    const int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    Address.sin_port = htons(Sender.Port());
    if (::connect(Fd, reinterpret_cast<sockaddr*>(&Address), sizeof Address) != 0)
        throw std::runtime_error("cannot connect");
    const auto Start = TClock::now();
    const int File = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    std::vector<char> Buffer(Chunk);
    for (;;) {
        const ssize_t N = ::recv(Fd, Buffer.data(), Buffer.size(), 0);
        if (N <= 0) break;
        if (::write(File, Buffer.data(), static_cast<size_t>(N)) != N)
            throw std::runtime_error("short write");
    }
    ::close(File);
    const double Time = Seconds(Start);
    ::close(Fd);
    if (FileSize(Path) != Bytes) throw std::runtime_error("the plain loop wrote a file of the wrong size");
    return Time;
}

} // namespace

int main(int Argc, char** Argv) {
    const long Megabytes = Argc > 1 ? std::atol(Argv[1]) : 256;
    const int Rounds = Argc > 2 ? std::atoi(Argv[2]) : 3;
    if (Megabytes <= 0 || Rounds <= 0) {
        std::fprintf(stderr, "usage: bench_capture [megabytes] [rounds]\n");
        return 2;
    }
    const uint64_t Bytes = static_cast<uint64_t>(Megabytes) << 20;
    char Folder[] = "/tmp/bench_capture.XXXXXX";
    if (!::mkdtemp(Folder)) return 1;
    const std::string Path = std::string(Folder) + "/body";

    double BestCapture = 1e9, BestPlain = 1e9;
    for (int Round = 0; Round < Rounds; ++Round) {
        BestCapture = std::min(BestCapture, RunCaptureFile(Bytes, Path));
        BestPlain = std::min(BestPlain, RunPlainLoop(Bytes, Path));
    }
    ::unlink(Path.c_str());
    ::rmdir(Folder);

    const double CaptureRate = static_cast<double>(Megabytes) / BestCapture;
    const double PlainRate = static_cast<double>(Megabytes) / BestPlain;
    std::printf("%ld MB from a loopback sender into a file, best of %d\n", Megabytes, Rounds);
    std::printf("CaptureFile:          %8.1f MB/s\n", CaptureRate);
    std::printf("recv/write loop:      %8.1f MB/s\n", PlainRate);
    std::printf("ratio CaptureFile / loop: %.2f (target >= 0.9)\n", CaptureRate / PlainRate);
    return 0;
}
