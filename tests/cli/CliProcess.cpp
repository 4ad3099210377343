#include "CliProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace {

void Check(bool Ok, const char* What) {
    if (!Ok) throw std::runtime_error(std::string(What) + ": " + std::strerror(errno));
}

// A pseudo-terminal for one of the child's outputs: the master end for us, the slave end for the child.
void OpenTerminal(int& Master, int& Slave) {
    Master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    Check(Master >= 0 && ::grantpt(Master) == 0 && ::unlockpt(Master) == 0, "pseudo-terminal");
    const char* Name = ::ptsname(Master);
    Check(Name != nullptr, "ptsname");
    Slave = ::open(Name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    Check(Slave >= 0, "open the pseudo-terminal");
}

} // namespace

CliProcess::CliProcess(const std::vector<std::string>& Arguments, Output Stdout, const std::string& Program,
                       Output Stderr) {
    int OutPipe[2] = {-1, -1};
    int ErrPipe[2] = {-1, -1};
    for (auto [Ends, Kind] : {std::pair{OutPipe, Stdout}, std::pair{ErrPipe, Stderr}}) {
        if (Kind == Output::Terminal)
            OpenTerminal(Ends[0], Ends[1]);
        else
            Check(::pipe2(Ends, O_CLOEXEC) == 0, "pipe");
    }

    posix_spawn_file_actions_t Actions;
    posix_spawn_file_actions_init(&Actions);
    posix_spawn_file_actions_addopen(&Actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&Actions, OutPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&Actions, ErrPipe[1], STDERR_FILENO);
    posix_spawnattr_t Attributes;
    posix_spawnattr_init(&Attributes);
    sigset_t Defaults;
    sigemptyset(&Defaults);
    sigaddset(&Defaults, SIGINT);
    sigaddset(&Defaults, SIGTERM);
    sigset_t NoneBlocked;
    sigemptyset(&NoneBlocked);
    posix_spawnattr_setsigdefault(&Attributes, &Defaults);
    posix_spawnattr_setsigmask(&Attributes, &NoneBlocked);
    posix_spawnattr_setflags(&Attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<std::string> Environment;
    for (char** Entry = environ; *Entry; ++Entry)
        if (std::strncmp(*Entry, "NO_COLOR=", 9) != 0) Environment.push_back(*Entry);
    std::vector<char*> Envp;
    for (std::string& Entry : Environment) Envp.push_back(Entry.data());
    Envp.push_back(nullptr);
    std::vector<std::string> Argv0 = {Program};
    Argv0.insert(Argv0.end(), Arguments.begin(), Arguments.end());
    std::vector<char*> Argv;
    for (std::string& Argument : Argv0) Argv.push_back(Argument.data());
    Argv.push_back(nullptr);

    const int Error = ::posix_spawn(&FPid, Program.c_str(), &Actions, &Attributes, Argv.data(), Envp.data());
    posix_spawn_file_actions_destroy(&Actions);
    posix_spawnattr_destroy(&Attributes);
    ::close(OutPipe[1]);
    ::close(ErrPipe[1]);
    FOut.Fd = OutPipe[0];
    FErr.Fd = ErrPipe[0];
    if (Error != 0) {
        FPid = -1;
        throw std::runtime_error("cannot start " + Program + ": " + std::strerror(Error));
    }
}

CliProcess::~CliProcess() {
    Kill();
    for (Stream* S : {&FOut, &FErr})
        if (S->Fd >= 0) ::close(S->Fd);
}

bool CliProcess::ReadSome(std::chrono::steady_clock::time_point Deadline) {
    pollfd Fds[2];
    Stream* Streams[2];
    nfds_t Count = 0;
    for (Stream* S : {&FOut, &FErr}) {
        if (S->Fd < 0) continue;
        Fds[Count] = {S->Fd, POLLIN, 0};
        Streams[Count++] = S;
    }
    if (Count == 0) return false;
    const auto Left =
        std::chrono::ceil<std::chrono::milliseconds>(Deadline - std::chrono::steady_clock::now()).count();
    if (Left <= 0 || ::poll(Fds, Count, static_cast<int>(Left)) <= 0) return true;
    for (nfds_t I = 0; I < Count; ++I) {
        if (Fds[I].revents == 0) continue;
        char Buffer[4096];
        const ssize_t N = ::read(Streams[I]->Fd, Buffer, sizeof Buffer);
        if (N > 0) {
            Streams[I]->Text.append(Buffer, static_cast<size_t>(N));
        } else if (N == 0 || errno != EINTR) {
            // The end of a pipe, or EIO once the child has closed its side of the terminal.
            ::close(Streams[I]->Fd);
            Streams[I]->Fd = -1;
        }
    }
    return true;
}

bool CliProcess::WaitForLine(const std::string& Text, std::chrono::milliseconds Deadline) {
    const auto Until = std::chrono::steady_clock::now() + Deadline;
    for (;;) {
        for (const std::string& Line : StdoutLines())
            if (Line.find(Text) != std::string::npos) return true;
        if (std::chrono::steady_clock::now() >= Until || FOut.Fd < 0 || !ReadSome(Until)) return false;
    }
}

void CliProcess::Signal(int Number) {
    if (FPid > 0) ::kill(FPid, Number);
}

void CliProcess::CloseStdout() {
    if (FOut.Fd >= 0) ::close(FOut.Fd);
    FOut.Fd = -1;
}

int CliProcess::Finish(std::chrono::milliseconds Deadline) {
    const auto Until = std::chrono::steady_clock::now() + Deadline;
    while (std::chrono::steady_clock::now() < Until && ReadSome(Until)) {
    }
    if (FOut.Fd >= 0 || FErr.Fd >= 0) {
        Kill();
        return -1;
    }
    // Both outputs have ended, so the child has exited or is about to.
    int Status = 0;
    if (::waitpid(FPid, &Status, 0) != FPid) return -1;
    FPid = -1;
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + WTERMSIG(Status);
}

std::vector<std::string> CliProcess::StdoutLines() const {
    std::vector<std::string> Lines;
    size_t Start = 0;
    for (size_t End; (End = FOut.Text.find('\n', Start)) != std::string::npos; Start = End + 1) {
        std::string Line = FOut.Text.substr(Start, End - Start);
        if (!Line.empty() && Line.back() == '\r') Line.pop_back();
        Lines.push_back(Line);
    }
    return Lines;
}

void CliProcess::Kill() {
    if (FPid <= 0) return;
    ::kill(FPid, SIGKILL);
    int Status = 0;
    ::waitpid(FPid, &Status, 0);
    FPid = -1;
}
