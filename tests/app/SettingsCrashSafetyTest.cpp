// Saves killed at random moments: a child process saves a changing window state over and over and is
// killed with SIGKILL, hundreds of times; after every kill the settings file holds, byte for byte, the
// state before the save under way or the state it was saving, and loads as that state.
//
// The children are forked by a helper process, this test program started again in a mode of its own,
// which does nothing but fork: a process with a single thread forks safely, and a fork is far cheaper
// than starting the program anew for each of the kills.
#include "app/ProxyList.h"

#include "AppFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <poll.h>
#include <random>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

constexpr int Kills = 200;
constexpr const char* HelperVariable = "VINDRAL_SETTINGS_SAVER";
constexpr auto ReplyDeadline = std::chrono::seconds(20);

// ---- The states the child saves ----

struct TState {
    Lines Targets;
    std::string From;
    std::string Max;
    Lines Proxies;
};

// State K differs from every other in each of its items and in its size, so a file that mixed two
// states, or held part of one, matches none.
TState StateNumber(int64_t K) {
    TState State;
    const std::string N = std::to_string(K);
    for (int64_t I = 0; I <= K % 4; ++I)
        State.Targets.push_back("http://127.0.0.1/" + N + "/" + std::to_string(I));
    // Now and then a long line, so that writing the file takes a while.
    if (K % 5 == 0) State.Targets.push_back("http://127.0.0.1/" + N + "/" + std::string(100000, 'x'));
    State.From = " from " + N + " ";
    State.Max = N;
    for (int64_t I = 0; I <= K % 7; ++I)
        State.Proxies.push_back("10." + std::to_string(I) + ".0.1:" + std::to_string(K % 60000) +
                                (I % 2 == 0 ? SuccessMark : ""));
    return State;
}

// The file a save of State writes: counts and lines, each line ended by CR LF.
std::string FileOf(const TState& State) {
    std::string Bytes = std::to_string(State.Targets.size()) + "\r\n";
    for (const std::string& Line : State.Targets) Bytes += Line + "\r\n";
    Bytes += State.From + "\r\n" + State.Max + "\r\n" + std::to_string(State.Proxies.size()) + "\r\n";
    for (const std::string& Line : State.Proxies) Bytes += Line + "\r\n";
    return Bytes;
}

void SetState(const TState& State, TMemoryMemo& Memo2, TMemoryEdit& Edit1, TMemoryEdit& Edit2,
              TMemoryMemo& Memo1) {
    Memo2.SetLines(State.Targets);
    Edit1.SetText(State.From);
    Edit2.SetText(State.Max);
    Memo1.SetLines(State.Proxies);
}

// ---- Pipes ----

// False when the other side has gone.
bool WriteAll(int Fd, const void* Data, size_t Size) {
    const char* Bytes = static_cast<const char*>(Data);
    while (Size > 0) {
        const ssize_t N = ::write(Fd, Bytes, Size);
        if (N < 0 && errno == EINTR) continue;
        if (N <= 0) return false;
        Bytes += N;
        Size -= static_cast<size_t>(N);
    }
    return true;
}

// Reads exactly Size bytes, waiting until the deadline at most (a deadline already past takes only what
// is there); false at the end of the pipe or the deadline.
bool ReadExactly(int Fd, void* Data, size_t Size, std::chrono::steady_clock::time_point Deadline) {
    char* Bytes = static_cast<char*>(Data);
    while (Size > 0) {
        int Timeout = -1;
        if (Deadline != std::chrono::steady_clock::time_point::max()) {
            const auto Left =
                std::chrono::ceil<std::chrono::milliseconds>(Deadline - std::chrono::steady_clock::now())
                    .count();
            Timeout = static_cast<int>(std::clamp<int64_t>(Left, 0, 1 << 30));
        }
        pollfd P{Fd, POLLIN, 0};
        if (::poll(&P, 1, Timeout) <= 0) return false;
        const ssize_t N = ::read(Fd, Bytes, Size);
        if (N < 0 && errno == EINTR) continue;
        if (N <= 0) return false;
        Bytes += N;
        Size -= static_cast<size_t>(N);
    }
    return true;
}

// What a saving child tells about each save: 'B' before it, 'A' after it, and the state's number.
struct TProgress {
    char Step;
    int64_t State;
};

// ---- The helper and its children ----

// A child: saves state First, First + 1, ... until it is killed.
[[noreturn]] void SaveUntilKilled(const std::string& SettingsFile, int64_t First, int ProgressFd) {
    // Should the test be gone, the next report ends the child instead of leaving it saving.
    ::signal(SIGPIPE, SIG_DFL);
    TMemoryMemo Memo1, Memo2;
    TMemoryEdit Edit1, Edit2;
    TMemoryStatusBar StatusBar1;
    TForm1 Form(nullptr, {&Memo1, &Memo2, &Edit1, &Edit2, &StatusBar1});
    Form.SetSettingsFile(SettingsFile);
    for (int64_t K = First; K < First + 10000; ++K) {
        SetState(StateNumber(K), Memo2, Edit1, Edit2, Memo1);
        const TProgress Before{'B', K};
        if (!WriteAll(ProgressFd, &Before, sizeof Before)) ::_exit(3);
        if (Form.SaveSettings() != 1) ::_exit(2);
        const TProgress After{'A', K};
        if (!WriteAll(ProgressFd, &After, sizeof After)) ::_exit(3);
    }
    ::_exit(0);
}

// The helper: for each state number read from the command pipe, forks a child that saves from there,
// reports its process number, waits for its end and reports that too. Ends at the end of the pipe.
[[noreturn]] void ServeForks(const std::string& Setting) {
    int Command = -1, Reply = -1, Progress = -1;
    char SettingsFile[4096] = {};
    if (std::sscanf(Setting.c_str(), "%d %d %d %4095[^\n]", &Command, &Reply, &Progress, SettingsFile) != 4)
        ::_exit(4);
    for (;;) {
        int64_t First = 0;
        if (!ReadExactly(Command, &First, sizeof First, std::chrono::steady_clock::time_point::max()))
            ::_exit(0);
        const pid_t Child = ::fork();
        if (Child == 0) {
            ::close(Command);
            ::close(Reply);
            SaveUntilKilled(SettingsFile, First, Progress);
        }
        if (!WriteAll(Reply, &Child, sizeof Child)) ::_exit(3);
        if (Child < 0) continue;
        int Status = 0;
        while (::waitpid(Child, &Status, 0) < 0 && errno == EINTR) {
        }
        if (!WriteAll(Reply, &Status, sizeof Status)) ::_exit(3);
    }
}

// The helper as the test sees it: started on construction, ended with its current child on destruction.
class TForkHelper {
public:
    TForkHelper(const std::string& SettingsFile, const std::string& LogFile) {
        int CommandPipe[2], ReplyPipe[2], ProgressPipe[2];
        if (::pipe2(CommandPipe, O_CLOEXEC) != 0 || ::pipe2(ReplyPipe, O_CLOEXEC) != 0 ||
            ::pipe2(ProgressPipe, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe2 failed");
        FCommand = CommandPipe[1];
        FReply = ReplyPipe[0];
        FProgress = ProgressPipe[0];
        // The helper's ends are inherited under their own numbers.
        for (int Fd : {CommandPipe[0], ReplyPipe[1], ProgressPipe[1]}) ::fcntl(Fd, F_SETFD, 0);
        posix_spawn_file_actions_t Actions;
        posix_spawn_file_actions_init(&Actions);
        posix_spawn_file_actions_addopen(&Actions, STDOUT_FILENO, LogFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&Actions, STDOUT_FILENO, STDERR_FILENO);

        std::vector<std::string> Environment;
        for (char** E = environ; *E; ++E) Environment.emplace_back(*E);
        Environment.push_back(std::string(HelperVariable) + "=" + std::to_string(CommandPipe[0]) + " " +
                              std::to_string(ReplyPipe[1]) + " " + std::to_string(ProgressPipe[1]) + " " +
                              SettingsFile);
        std::vector<char*> Env;
        for (std::string& E : Environment) Env.push_back(E.data());
        Env.push_back(nullptr);
        const std::string Self = fs::read_symlink("/proc/self/exe");
        std::string Filter = "--gtest_filter=SettingsCrashSafety.*";
        char* Argv[] = {const_cast<char*>(Self.c_str()), Filter.data(), nullptr};
        const int Error = ::posix_spawn(&FHelper, Self.c_str(), &Actions, nullptr, Argv, Env.data());
        posix_spawn_file_actions_destroy(&Actions);
        for (int Fd : {CommandPipe[0], ReplyPipe[1], ProgressPipe[1]}) ::close(Fd);
        if (Error != 0) throw std::runtime_error(std::string("posix_spawn: ") + std::strerror(Error));
    }
    ~TForkHelper() {
        if (FChild > 0) ::kill(FChild, SIGKILL);
        ::kill(FHelper, SIGKILL);
        while (::waitpid(FHelper, nullptr, 0) < 0 && errno == EINTR) {
        }
        for (int Fd : {FCommand, FReply, FProgress}) ::close(Fd);
    }
    TForkHelper(const TForkHelper&) = delete;
    TForkHelper& operator=(const TForkHelper&) = delete;

    // Starts a child saving from state First; false when the helper does not answer.
    bool Start(int64_t First) {
        // A helper that has gone leaves a pipe that reports an error; writing to it would end this program.
        pollfd P{FCommand, POLLOUT, 0};
        if (::poll(&P, 1, 0) != 1 || (P.revents & POLLERR) || !WriteAll(FCommand, &First, sizeof First))
            return false;
        return ReadExactly(FReply, &FChild, sizeof FChild,
                           std::chrono::steady_clock::now() + ReplyDeadline) &&
               FChild > 0;
    }
    // The next report of the child; none at the deadline.
    std::optional<TProgress> NextProgress() {
        TProgress Progress{};
        if (!ReadExactly(FProgress, &Progress, sizeof Progress,
                         std::chrono::steady_clock::now() + ReplyDeadline))
            return std::nullopt;
        return Progress;
    }
    // Kills the child and waits until it is gone; its wait status, or none at the deadline.
    std::optional<int> Kill() {
        ::kill(FChild, SIGKILL);
        int Status = 0;
        const bool Reaped =
            ReadExactly(FReply, &Status, sizeof Status, std::chrono::steady_clock::now() + ReplyDeadline);
        FChild = -1;
        if (!Reaped) return std::nullopt;
        return Status;
    }
    // The reports the child wrote before it died and nobody has read yet.
    std::vector<TProgress> RemainingProgress() {
        std::vector<TProgress> Result;
        TProgress Progress{};
        while (ReadExactly(FProgress, &Progress, sizeof Progress, std::chrono::steady_clock::now()))
            Result.push_back(Progress);
        return Result;
    }

private:
    pid_t FHelper = -1;
    pid_t FChild = -1;
    int FCommand = -1;
    int FReply = -1;
    int FProgress = -1;
};

TEST(SettingsCrashSafety, AKilledSaveLeavesTheStateBeforeItOrTheOneItSaved) {
    if (const char* Setting = std::getenv(HelperVariable)) ServeForks(Setting);

    TTempFolder Folder;
    const std::string SettingsFile = Folder.Path() + "qelto.ini";
    // The state before the first save of all.
    int64_t OnDisk = 0;
    WriteFileBytes(SettingsFile, FileOf(StateNumber(OnDisk)));

    TForkHelper Helper(SettingsFile, Folder.Path() + "helper.log");
    std::mt19937 Moments(20240611);
    std::uniform_int_distribution<int> ReportsBeforeKill(0, 4); // 0: during start-up, before any save
    std::uniform_int_distribution<int> MicrosecondsAfter(0, 2000);

    int KilledDuringASave = 0;
    for (int Round = 0; Round < Kills; ++Round) {
        SCOPED_TRACE("kill " + std::to_string(Round));
        const int64_t First = 1 + static_cast<int64_t>(Round) * 100000;
        ASSERT_TRUE(Helper.Start(First)) << ReadFileBytes(Folder.Path() + "helper.log");

        // The moment: after a random number of the child's reports, and a random time after that.
        std::vector<TProgress> Reports;
        for (int Wanted = ReportsBeforeKill(Moments); static_cast<int>(Reports.size()) < Wanted;) {
            const std::optional<TProgress> Report = Helper.NextProgress();
            ASSERT_TRUE(Report) << "the child stopped reporting";
            Reports.push_back(*Report);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(MicrosecondsAfter(Moments)));
        const std::optional<int> Status = Helper.Kill();
        ASSERT_TRUE(Status) << "the child was not reaped";
        ASSERT_TRUE(WIFSIGNALED(*Status) && WTERMSIG(*Status) == SIGKILL)
            << "the child ended by itself: " << *Status;
        for (const TProgress& Report : Helper.RemainingProgress()) Reports.push_back(Report);

        // Before: the last save that completed, or what was there when the child started. After: the
        // save under way when the kill came, if one was.
        // A state number of 0 is never saved by a child, so it stands for "no save under way".
        int64_t Before = OnDisk;
        int64_t UnderWay = 0;
        for (const TProgress& Report : Reports) {
            if (Report.Step == 'A') {
                Before = Report.State;
                UnderWay = 0;
            } else {
                UnderWay = Report.State;
            }
        }
        if (UnderWay != 0) ++KilledDuringASave;
        const std::string Bytes = ReadFileBytes(SettingsFile);
        if (Bytes == FileOf(StateNumber(Before))) {
            OnDisk = Before;
        } else {
            ASSERT_TRUE(UnderWay != 0 && Bytes == FileOf(StateNumber(UnderWay)))
                << "the file is neither state " << Before << " nor the one being saved; " << Bytes.size()
                << " bytes, beginning " << testing::PrintToString(Bytes.substr(0, 80));
            OnDisk = UnderWay;
        }

        // And it loads as that state, whole.
        std::vector<std::string> Log;
        TMemoryMemo Memo1, Memo2;
        TMemoryEdit Edit1("Edit1"), Edit2("100");
        TLoggingStatusBar StatusBar1(Log);
        TForm1 Form(nullptr, {&Memo1, &Memo2, &Edit1, &Edit2, &StatusBar1});
        Form.SetSettingsFile(SettingsFile);
        Form.FormShow(&Form);
        const TState Expected = StateNumber(OnDisk);
        EXPECT_EQ(Memo2.Lines(), Expected.Targets);
        EXPECT_EQ(Edit1.Text(), Expected.From);
        EXPECT_EQ(Edit2.Text(), Expected.Max);
        EXPECT_EQ(Memo1.Lines(), Expected.Proxies);
    }
    // Most kills met a save under way, or the test proved little.
    EXPECT_GE(KilledDuringASave, Kills / 4);
    // A kill during a save leaves its temporary file behind; the next save, by any process, removes them.
    {
        TMemoryMemo Memo1, Memo2;
        TMemoryEdit Edit1("Edit1"), Edit2("100");
        TMemoryStatusBar StatusBar1;
        TForm1 Form(nullptr, {&Memo1, &Memo2, &Edit1, &Edit2, &StatusBar1});
        Form.SetSettingsFile(SettingsFile);
        Form.FormShow(&Form);
        ASSERT_EQ(Form.SaveSettings(), 1);
    }
    std::vector<std::string> Temporary;
    for (const auto& Entry : fs::directory_iterator(Folder.Path()))
        if (Entry.path().extension() == ".tmp") Temporary.push_back(Entry.path().filename().string());
    EXPECT_EQ(Temporary, std::vector<std::string>{});
    EXPECT_EQ(ReadFileBytes(SettingsFile), FileOf(StateNumber(OnDisk)));
}

} // namespace
