// A proxy list checked by vindral-cli with many proxies at once, against xargs -P running curl per
// proxy, on a loopback lab: L real tinyproxy instances on ports of their own, D refused ports, S silent
// listeners (they accept and never answer), and the target pages on a real nginx.
//
//   bench_list VINDRAL_CLI lab   [L=40 D=480 S=480 N=100 T=3000]
//   bench_list VINDRAL_CLI scale [SMALL=10000 LARGE=100000 N=64]
//
// lab: the same list of L + D + S lines, checked by
//   vindral-cli --jobs N --pause-max 0 --timeout T
//   xargs -P N -I{} curl -0 -x {} --max-time T/1000 --fail-early ... (every target, per proxy)
// prints the wall time, the CPU time (user + system, of the program and everything it started and
// waited for), the peak RSS (of the largest single process), the ratios vindral / curl, and whether both
// found the same working proxies.
//
// scale: lists of SMALL and LARGE distinct refused lines, each checked by vindral-cli at N at a time;
// prints the same figures for each and the ratio LARGE / SMALL.
//
// Everything listens on and connects to 127.0.0.0/8 only. The refused lines are distinct loopback
// addresses at a port that is bound on 127.0.0.1 and never listened on.
#include "support/LoopbackPorts.h"
#include "support/RealServers.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <set>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using TClock = std::chrono::steady_clock;
using Lines = std::vector<std::string>;

// The success mark as the settings file holds it.
const std::string SuccessMark = "(\x81\x9B)";

// A port on 127.0.0.1 that takes connections into its queue and never accepts or answers them.
class SilentListener {
public:
    SilentListener() {
        FFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in Address{};
        Address.sin_family = AF_INET;
        Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t Length = sizeof Address;
        if (FFd < 0 || ::bind(FFd, reinterpret_cast<sockaddr*>(&Address), sizeof Address) != 0 ||
            ::listen(FFd, 64) != 0 || ::getsockname(FFd, reinterpret_cast<sockaddr*>(&Address), &Length) != 0)
            throw std::runtime_error("cannot make a silent listener");
        FPort = ntohs(Address.sin_port);
    }
    ~SilentListener() { ::close(FFd); }
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;
    uint16_t Port() const { return FPort; }

private:
    int FFd = -1;
    uint16_t FPort = 0;
};

struct Figures {
    double Wall = 0;
    double Cpu = 0;
    long PeakRssKb = 0;
    int Status = 0;
};

// Runs Arguments with stdin from InputFile (or /dev/null) and stdout to OutputFile, and measures it.
Figures Measure(const Lines& Arguments, const std::string& InputFile, const std::string& OutputFile) {
    posix_spawn_file_actions_t Actions;
    posix_spawn_file_actions_init(&Actions);
    posix_spawn_file_actions_addopen(&Actions, STDIN_FILENO,
                                     InputFile.empty() ? "/dev/null" : InputFile.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&Actions, STDOUT_FILENO, OutputFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> Argv;
    for (const std::string& Argument : Arguments) Argv.push_back(const_cast<char*>(Argument.c_str()));
    Argv.push_back(nullptr);
    pid_t Pid = -1;
    const auto Start = TClock::now();
    const int Error = ::posix_spawnp(&Pid, Argv[0], &Actions, nullptr, Argv.data(), environ);
    posix_spawn_file_actions_destroy(&Actions);
    if (Error != 0) throw std::runtime_error("cannot start " + Arguments[0]);
    int Status = 0;
    rusage Usage{};
    if (::wait4(Pid, &Status, 0, &Usage) != Pid) throw std::runtime_error("wait4 failed");
    Figures Result;
    Result.Wall = std::chrono::duration<double>(TClock::now() - Start).count();
    Result.Cpu = static_cast<double>(Usage.ru_utime.tv_sec + Usage.ru_stime.tv_sec) +
                 static_cast<double>(Usage.ru_utime.tv_usec + Usage.ru_stime.tv_usec) / 1e6;
    Result.PeakRssKb = Usage.ru_maxrss;
    Result.Status = WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + WTERMSIG(Status);
    return Result;
}

void WriteText(const std::string& FileName, const std::string& Text) {
    std::ofstream Out(FileName, std::ios::binary | std::ios::trunc);
    Out << Text;
    if (!Out) throw std::runtime_error("cannot write " + FileName);
}

std::string SettingsBytes(const Lines& Targets, const Lines& Proxies) {
    std::string Bytes = std::to_string(Targets.size()) + "\r\n";
    for (const std::string& Target : Targets) Bytes += Target + "\r\n";
    Bytes += "\r\n1000000\r\n" + std::to_string(Proxies.size()) + "\r\n";
    for (const std::string& Proxy : Proxies) Bytes += Proxy + "\r\n";
    return Bytes;
}

// The proxies the saved settings file marks as working.
std::set<std::string> MarkedWorking(const std::string& FileName) {
    std::ifstream In(FileName, std::ios::binary);
    std::set<std::string> Working;
    std::string Line;
    while (std::getline(In, Line)) {
        if (!Line.empty() && Line.back() == '\r') Line.pop_back();
        const size_t Mark = Line.find(SuccessMark);
        if (Mark != std::string::npos) Working.insert(Line.substr(0, Mark));
    }
    return Working;
}

// The proxies whose every transfer curl reported with exit code 0: curl writes "proxy TAB exitcode" per
// transfer, and with --fail-early it stops a proxy's transfers at the first failure.
std::set<std::string> CurlWorking(const std::string& FileName, size_t Targets) {
    std::ifstream In(FileName);
    std::map<std::string, size_t> Fetched;
    std::set<std::string> Failed;
    std::string Proxy;
    std::string Code;
    while (In >> Proxy >> Code) {
        if (Code == "0")
            ++Fetched[Proxy];
        else
            Failed.insert(Proxy);
    }
    std::set<std::string> Working;
    for (const auto& [Name, Count] : Fetched)
        if (Count == Targets && !Failed.count(Name)) Working.insert(Name);
    return Working;
}

Figures RunVindral(const std::string& Cli, const std::string& Folder, const Lines& Targets, const Lines& List,
                   int Jobs, int TimeOut) {
    const std::string Settings = Folder + "/qelto.ini";
    WriteText(Settings, SettingsBytes(Targets, List));
    return Measure({Cli, "--settings", Settings, "--jobs", std::to_string(Jobs), "--pause-max", "0",
                    "--timeout", std::to_string(TimeOut)},
                   "", Folder + "/vindral.out");
}

void PrintFigures(const char* Who, const Figures& F) {
    std::printf("  %-8s wall %8.2f s   CPU %8.2f s   peak RSS %7.1f MB   exit %d\n", Who, F.Wall, F.Cpu,
                static_cast<double>(F.PeakRssKb) / 1024, F.Status);
}

int Lab(const std::string& Cli, int Live, int Refused, int Silent, int Jobs, int TimeOut) {
    TempFolder Folder;
    NginxServer Origin;
    Origin.AddFile("a.html", "<html><body>" + std::string(2000, 'a') + "</body></html>");
    Origin.AddFile("b.html", "<html><body>" + std::string(6000, 'b') + "</body></html>");
    const Lines Targets = {Origin.Url("a.html"), Origin.Url("b.html")};

    std::vector<std::unique_ptr<TinyproxyServer>> Proxies;
    std::vector<std::unique_ptr<SilentListener>> Listeners;
    ClosedPort Closed;
    Lines List;
    for (int I = 0; I < Live; ++I) {
        Proxies.push_back(std::make_unique<TinyproxyServer>());
        List.push_back("127.0.0.1:" + std::to_string(Proxies.back()->Port()));
    }
    for (int I = 0; I < Refused; ++I)
        List.push_back("127.2." + std::to_string(I / 250) + "." + std::to_string(1 + I % 250) + ":" +
                       std::to_string(Closed.Port()));
    for (int I = 0; I < Silent; ++I) {
        Listeners.push_back(std::make_unique<SilentListener>());
        List.push_back("127.0.0.1:" + std::to_string(Listeners.back()->Port()));
    }
    std::printf("lab: %zu lines (%d live tinyproxy, %d refused, %d silent), %zu targets on nginx, N = %d, "
                "T = %d ms\n",
                List.size(), Live, Refused, Silent, Targets.size(), Jobs, TimeOut);
    std::printf("  vindral: %s --jobs %d --pause-max 0 --timeout %d\n", Cli.c_str(), Jobs, TimeOut);
    const Figures Ours = RunVindral(Cli, Folder.Path(), Targets, List, Jobs, TimeOut);
    PrintFigures("vindral", Ours);

    std::string Input;
    for (const std::string& Line : List) Input += Line + "\n";
    WriteText(Folder.Path() + "/proxies.txt", Input);
    char Seconds[32];
    std::snprintf(Seconds, sizeof Seconds, "%.3f", TimeOut / 1000.0);
    Lines Curl = {"xargs",
                  "-P",
                  std::to_string(Jobs),
                  "-I{}",
                  "curl",
                  "-0",
                  "-s",
                  "--fail-early",
                  "--max-time",
                  Seconds,
                  "-x",
                  "{}",
                  "-w",
                  "{}\\t%{exitcode}\\n"};
    for (const std::string& Target : Targets) {
        Curl.push_back(Target);
        Curl.push_back("-o");
        Curl.push_back("/dev/null");
    }
    std::string Command;
    for (const std::string& Part : Curl) Command += Part + " ";
    std::printf("  curl:    %s< proxies.txt\n", Command.c_str());
    const Figures Theirs = Measure(Curl, Folder.Path() + "/proxies.txt", Folder.Path() + "/curl.out");
    PrintFigures("curl", Theirs);

    const std::set<std::string> OursWorking = MarkedWorking(Folder.Path() + "/qelto.ini");
    const std::set<std::string> TheirsWorking = CurlWorking(Folder.Path() + "/curl.out", Targets.size());
    std::printf("  ratios vindral / curl: wall %.2f, CPU %.2f, peak RSS %.2f\n", Ours.Wall / Theirs.Wall,
                Ours.Cpu / Theirs.Cpu,
                static_cast<double>(Ours.PeakRssKb) / static_cast<double>(Theirs.PeakRssKb));
    std::printf("  working proxies: vindral %zu, curl %zu, %s\n", OursWorking.size(), TheirsWorking.size(),
                OursWorking == TheirsWorking ? "the same set" : "DIFFERENT SETS");
    return OursWorking == TheirsWorking ? 0 : 1;
}

Lines RefusedLines(int Count, uint16_t Port) {
    Lines List;
    for (int I = 0; I < Count; ++I)
        List.push_back("127." + std::to_string(1 + I / 65536) + "." + std::to_string(I / 256 % 256) + "." +
                       std::to_string(I % 256) + ":" + std::to_string(Port));
    return List;
}

int Scale(const std::string& Cli, int Small, int Large, int Jobs) {
    TempFolder Folder;
    ClosedPort Closed;
    const Lines Targets = {"http://127.0.0.1:9/a.html"};
    std::printf("scale: distinct refused lines, N = %d: %s --jobs %d --pause-max 0\n", Jobs, Cli.c_str(),
                Jobs);
    const Figures A =
        RunVindral(Cli, Folder.Path(), Targets, RefusedLines(Small, Closed.Port()), Jobs, 30000);
    std::printf("  %d lines:\n", Small);
    PrintFigures("vindral", A);
    const Figures B =
        RunVindral(Cli, Folder.Path(), Targets, RefusedLines(Large, Closed.Port()), Jobs, 30000);
    std::printf("  %d lines:\n", Large);
    PrintFigures("vindral", B);
    std::printf("  ratios %d / %d lines: wall %.2f, CPU %.2f\n", Large, Small, B.Wall / A.Wall,
                B.Cpu / A.Cpu);
    return 0;
}

int Argument(int Argc, char** Argv, int Index, int Default) {
    return Argc > Index ? std::atoi(Argv[Index]) : Default;
}

} // namespace

int main(int Argc, char** Argv) {
    if (Argc < 3) {
        std::fprintf(stderr, "usage: bench_list VINDRAL_CLI lab [L D S N T] | scale [SMALL LARGE N]\n");
        return 2;
    }
    const std::string Cli = Argv[1];
    const std::string Mode = Argv[2];
    try {
        if (Mode == "lab")
            return Lab(Cli, Argument(Argc, Argv, 3, 40), Argument(Argc, Argv, 4, 480),
                       Argument(Argc, Argv, 5, 480), Argument(Argc, Argv, 6, 100),
                       Argument(Argc, Argv, 7, 3000));
        if (Mode == "scale")
            return Scale(Cli, Argument(Argc, Argv, 3, 10000), Argument(Argc, Argv, 4, 100000),
                         Argument(Argc, Argv, 5, 64));
    } catch (const std::exception& E) {
        std::fprintf(stderr, "bench_list: %s\n", E.what());
        return 1;
    }
    std::fprintf(stderr, "bench_list: unknown mode '%s'\n", Mode.c_str());
    return 2;
}
