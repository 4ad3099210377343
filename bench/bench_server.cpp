// Connections per second of the threaded server: a greeting server and a client loop on loopback.
//
//   bench_server [seconds=10] [clients=1]
//
// The main thread owns the listening instance and pumps its messages, as a window's thread would; each
// client thread connects, reads the greeting and waits for the close, over and over. The server's CPU is
// the process's CPU time less the client threads' own.
#include "net/TVexGeneralServer.h"
#include "platform/Windows.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

class TGreetingServer : public TVexGeneralServer {
public:
    using TVexGeneralServer::TVexGeneralServer;
    void Serve() override { Writeln("HELLO"); }
};

double CpuSeconds(clockid_t Clock) {
    timespec Time{};
    clock_gettime(Clock, &Time);
    return static_cast<double>(Time.tv_sec) + static_cast<double>(Time.tv_nsec) / 1e9;
}

uint16_t BoundPort(const TDovrel& Socket) {
    sockaddr_in Address{};
    socklen_t Length = sizeof Address;
    ::getsockname(Socket.SocketHandle, reinterpret_cast<sockaddr*>(&Address), &Length);
    return ntohs(Address.sin_port);
}

// One conversation: connect, read the greeting up to its LF, read on until the server closes.
bool Converse(uint16_t Port) {
    const int Fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (Fd < 0) return false;
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_port = htons(Port);
    Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool Greeted = false;
    if (::connect(Fd, reinterpret_cast<sockaddr*>(&Address), sizeof Address) == 0) {
        std::string Received;
        char Buffer[64];
        for (;;) {
            const ssize_t N = ::recv(Fd, Buffer, sizeof Buffer, 0);
            if (N <= 0) break; // closed (the server's linger 0 may make it a reset)
            Received.append(Buffer, static_cast<size_t>(N));
        }
        Greeted = Received == "HELLO\r\n";
    }
    ::close(Fd);
    return Greeted;
}

} // namespace

int main(int Argc, char** Argv) {
    const int Seconds = Argc > 1 ? std::atoi(Argv[1]) : 10;
    const int ClientCount = Argc > 2 ? std::atoi(Argv[2]) : 1;
    if (Seconds <= 0 || ClientCount <= 0) {
        std::fprintf(stderr, "usage: bench_server [seconds] [clients]\n");
        return 2;
    }

    auto Server = std::make_unique<TServerOf<TGreetingServer>>(nullptr);
    Server->Port = 0;
    Server->Loaded();
    const uint16_t Port = BoundPort(*Server);

    std::atomic<bool> Stop{false};
    std::atomic<long> Served{0};
    std::atomic<long> Failed{0};
    std::vector<double> ClientCpu(static_cast<size_t>(ClientCount));
    std::vector<std::thread> Clients;

    const double ProcessCpuStart = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    const auto Start = TClock::now();
    const auto End = Start + std::chrono::seconds(Seconds);
    for (int I = 0; I < ClientCount; ++I)
        Clients.emplace_back([&, I] {
            while (!Stop) (Converse(Port) ? Served : Failed)++;
            ClientCpu[static_cast<size_t>(I)] = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        });
    while (TClock::now() < End) {
        platform::ProcessMessages();
        platform::WaitForWork(10);
    }
    Stop = true;
    // The clients finish their last conversation, which needs this thread to accept it.
    std::atomic<int> Running{ClientCount};
    std::vector<std::thread> Joiners;
    for (std::thread& Client : Clients)
        Joiners.emplace_back([&Client, &Running] {
            Client.join();
            --Running;
        });
    while (Running > 0) {
        platform::ProcessMessages();
        platform::WaitForWork(10);
    }
    for (std::thread& Joiner : Joiners) Joiner.join();
    const double Wall = std::chrono::duration<double>(TClock::now() - Start).count();
    Server.reset();
    double ClientsCpu = 0;
    for (double Cpu : ClientCpu) ClientsCpu += Cpu;
    const double ServerCpu = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - ProcessCpuStart - ClientsCpu;

    std::printf("clients: %d, duration: %.1f s\n", ClientCount, Wall);
    std::printf("connections served: %ld (%.0f per second), failed: %ld\n", Served.load(),
                static_cast<double>(Served) / Wall, Failed.load());
    std::printf("server CPU: %.2f s (%.0f%% of one core), %.1f us per connection\n", ServerCpu,
                100.0 * ServerCpu / Wall, Served > 0 ? 1e6 * ServerCpu / static_cast<double>(Served) : 0.0);
    return Failed == 0 ? 0 : 1;
}
