#include "RealServers.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto StartDeadline = std::chrono::seconds(15);
constexpr auto StopDeadline = std::chrono::seconds(5);
// Pause between two probes of a port that is not yet listening.
constexpr auto ProbeInterval = std::chrono::milliseconds(10);
// A port taken by someone else between choosing it and the server binding it: choose again.
constexpr int StartAttempts = 3;

bool AcceptsConnections(uint16_t Port) {
    const int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (Fd < 0) return false;
    sockaddr_in Addr{};
    Addr.sin_family = AF_INET;
    Addr.sin_port = htons(Port);
    Addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool Ok = ::connect(Fd, reinterpret_cast<sockaddr*>(&Addr), sizeof Addr) == 0;
    ::close(Fd);
    return Ok;
}

// Waits until Pid has ended (true) or the deadline passed (false), without busy polling.
bool WaitForExit(pid_t Pid, std::chrono::milliseconds Deadline) {
    const int PidFd = static_cast<int>(::syscall(SYS_pidfd_open, Pid, 0));
    if (PidFd >= 0) {
        pollfd Fd{PidFd, POLLIN, 0};
        ::poll(&Fd, 1, static_cast<int>(Deadline.count()));
        ::close(PidFd);
    }
    int Status = 0;
    if (::waitpid(Pid, &Status, WNOHANG) == Pid) return true;
    if (PidFd >= 0) return false;
    // No process descriptors here: probe at intervals until the deadline.
    for (auto End = Clock::now() + Deadline; Clock::now() < End;) {
        std::this_thread::sleep_for(ProbeInterval);
        if (::waitpid(Pid, &Status, WNOHANG) == Pid) return true;
    }
    return false;
}

// Starts a server with Make(port) until it listens on its port; Make returns the started process.
template <typename MakeProcess>
std::pair<uint16_t, ChildProcess> StartListening(const std::string& What, const std::string& LogFile,
                                                 MakeProcess Make) {
    for (int Attempt = 0; Attempt < StartAttempts; ++Attempt) {
        const uint16_t Port = FreeLoopbackPort();
        ChildProcess Process = Make(Port);
        for (auto End = Clock::now() + StartDeadline; Clock::now() < End && Process.Running();) {
            if (AcceptsConnections(Port)) return {Port, std::move(Process)};
            std::this_thread::sleep_for(ProbeInterval);
        }
    }
    throw std::runtime_error(What + " did not start; its log:\n" + ReadWholeFile(LogFile));
}

void WriteText(const std::string& FileName, const std::string& Text) {
    std::ofstream Out(FileName, std::ios::binary | std::ios::trunc);
    Out << Text;
    if (!Out) throw std::runtime_error("cannot write " + FileName);
}

} // namespace

std::pair<uint16_t, ChildProcess> StartOnFreePort(const std::string& What, const std::string& LogFile,
                                                  const std::function<ChildProcess(uint16_t)>& Make) {
    return StartListening(What, LogFile, Make);
}

TempFolder::TempFolder() {
    std::string Template = (std::filesystem::temp_directory_path() / "vindral-XXXXXX").string();
    if (!::mkdtemp(Template.data())) throw std::runtime_error("mkdtemp failed");
    // Server workers that drop their privileges must still read what is served from here.
    ::chmod(Template.c_str(), 0755);
    FPath = Template;
}

TempFolder::~TempFolder() {
    std::error_code Ignored;
    std::filesystem::remove_all(FPath, Ignored);
}

std::string TempFolder::WriteFile(const std::string& Name, const std::string& Bytes) const {
    const std::string FileName = FPath + "/" + Name;
    WriteText(FileName, Bytes);
    return FileName;
}

uint16_t FreeLoopbackPort() {
    const int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in Addr{};
    Addr.sin_family = AF_INET;
    Addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t Length = sizeof Addr;
    if (Fd < 0 || ::bind(Fd, reinterpret_cast<sockaddr*>(&Addr), sizeof Addr) != 0 ||
        ::getsockname(Fd, reinterpret_cast<sockaddr*>(&Addr), &Length) != 0) {
        if (Fd >= 0) ::close(Fd);
        throw std::runtime_error("no free loopback port");
    }
    ::close(Fd);
    return ntohs(Addr.sin_port);
}

std::string ReadWholeFile(const std::string& FileName) {
    std::ifstream In(FileName, std::ios::binary);
    std::ostringstream Text;
    Text << In.rdbuf();
    return Text.str();
}

ChildProcess::ChildProcess(const std::vector<std::string>& Arguments, const std::string& LogFile) {
    posix_spawn_file_actions_t Actions;
    posix_spawn_file_actions_init(&Actions);
    posix_spawn_file_actions_addopen(&Actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&Actions, STDOUT_FILENO, LogFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    posix_spawn_file_actions_adddup2(&Actions, STDOUT_FILENO, STDERR_FILENO);
    std::vector<char*> Argv;
    for (const std::string& A : Arguments) Argv.push_back(const_cast<char*>(A.c_str()));
    Argv.push_back(nullptr);
    const int Error = ::posix_spawn(&FPid, Argv[0], &Actions, nullptr, Argv.data(), environ);
    posix_spawn_file_actions_destroy(&Actions);
    if (Error != 0) {
        FPid = -1;
        throw std::runtime_error("cannot start " + Arguments[0] + ": " + std::strerror(Error));
    }
}

ChildProcess::~ChildProcess() {
    Stop();
}

ChildProcess::ChildProcess(ChildProcess&& Other) noexcept : FPid(std::exchange(Other.FPid, -1)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& Other) noexcept {
    if (this != &Other) {
        Stop();
        FPid = std::exchange(Other.FPid, -1);
    }
    return *this;
}

bool ChildProcess::Running() {
    if (FPid < 0) return false;
    int Status = 0;
    if (::waitpid(FPid, &Status, WNOHANG) == FPid) {
        FPid = -1;
        return false;
    }
    return true;
}

void ChildProcess::Stop() {
    if (FPid < 0) return;
    ::kill(FPid, SIGTERM);
    if (!WaitForExit(FPid, StopDeadline)) {
        ::kill(FPid, SIGKILL);
        int Status = 0;
        ::waitpid(FPid, &Status, 0);
    }
    FPid = -1;
}

std::string NginxConfigStart(const std::string& Dir) {
    std::ostringstream Conf;
    Conf << "worker_processes 1;\n"
         << "pid " << Dir << "/nginx.pid;\n"
         << "error_log " << Dir << "/error.log;\n"
         << "events { worker_connections 256; }\n"
         << "http {\n"
         << "  access_log off;\n"
         << "  client_body_temp_path " << Dir << "/temp/body;\n"
         << "  proxy_temp_path " << Dir << "/temp/proxy;\n"
         << "  fastcgi_temp_path " << Dir << "/temp/fastcgi;\n"
         << "  uwsgi_temp_path " << Dir << "/temp/uwsgi;\n"
         << "  scgi_temp_path " << Dir << "/temp/scgi;\n"
         << "  types { text/html html; text/plain txt; }\n"
         << "  default_type application/octet-stream;\n";
    return Conf.str();
}

NginxServer::NginxServer() {
    const std::string Dir = FFolder.Path();
    std::filesystem::create_directories(Dir + "/www");
    std::filesystem::create_directories(Dir + "/temp");
    ::chmod((Dir + "/www").c_str(), 0755);
    const std::string Log = Dir + "/nginx.out";
    auto Started = StartListening("nginx", Dir + "/error.log", [&](uint16_t Port) {
        std::ostringstream Conf;
        Conf << NginxConfigStart(Dir) << "  server {\n"
             << "    listen 127.0.0.1:" << Port << ";\n"
             << "    root " << Dir << "/www;\n"
             << "  }\n"
             << "}\n";
        WriteText(Dir + "/nginx.conf", Conf.str());
        return ChildProcess({"/usr/sbin/nginx", "-p", Dir, "-c", Dir + "/nginx.conf", "-g", "daemon off;"},
                            Log);
    });
    FPort = Started.first;
    FProcess = std::move(Started.second);
}

std::string NginxServer::Url(const std::string& Name) const {
    return "http://127.0.0.1:" + std::to_string(FPort) + "/" + Name;
}

void NginxServer::AddFile(const std::string& Name, const std::string& Bytes) const {
    const std::filesystem::path FileName = std::filesystem::path(Root()) / Name;
    std::filesystem::create_directories(FileName.parent_path());
    WriteText(FileName.string(), Bytes);
}

TinyproxyServer::TinyproxyServer() {
    const std::string Dir = FFolder.Path();
    const std::string Log = Dir + "/tinyproxy.log";
    auto Started = StartListening("tinyproxy", Log, [&](uint16_t Port) {
        std::ostringstream Conf;
        Conf << "Port " << Port << "\n"
             << "Listen 127.0.0.1\n"
             << "Allow 127.0.0.1\n"
             << "Timeout 60\n"
             << "MaxClients 64\n"
             << "LogLevel Error\n"
             << "LogFile \"" << Log << "\"\n";
        WriteText(Dir + "/tinyproxy.conf", Conf.str());
        return ChildProcess({"/usr/bin/tinyproxy", "-d", "-c", Dir + "/tinyproxy.conf"}, Log);
    });
    FPort = Started.first;
    FProcess = std::move(Started.second);
}

SquidServer::SquidServer() {
    const std::string Dir = FFolder.Path();
    // Run by root, squid works as an unprivileged user that must still write its log here.
    ::chmod(Dir.c_str(), 0777);
    const std::string Log = Dir + "/cache.log";
    auto Started = StartListening("squid", Log, [&](uint16_t Port) {
        std::ostringstream Conf;
        Conf << "http_port 127.0.0.1:" << Port << "\n"
             << "http_access allow localhost\n"
             << "http_access deny all\n"
             << "cache deny all\n"
             << "cache_mem 8 MB\n"
             << "pid_filename " << Dir << "/squid.pid\n"
             << "cache_log " << Log << "\n"
             << "access_log none\n"
             << "coredump_dir " << Dir << "\n"
             << "shutdown_lifetime 0 seconds\n"
             << "visible_hostname vindral-test\n"
             // Names are never looked up outside this machine.
             << "dns_nameservers 127.0.0.1\n";
        WriteText(Dir + "/squid.conf", Conf.str());
        return ChildProcess({"/usr/sbin/squid", "-N", "-f", Dir + "/squid.conf"}, Dir + "/squid.out");
    });
    FPort = Started.first;
    FProcess = std::move(Started.second);
}
