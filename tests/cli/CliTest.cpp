// vindral-cli run as a program, against a real proxy (tinyproxy) and a real origin (nginx) on loopback
// ports: its output lines, the marks it saves, its exit statuses, and SIGINT/SIGTERM during a run.
#include "CliProcess.h"

#include "app/ProxyList.h"
#include "app/SettingsFile.h"
#include "platform/System.h"
#include "support/RealServers.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <filesystem>
#include <map>
#include <netinet/in.h>
#include <ostream>
#include <poll.h>
#include <regex>
#include <set>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

// The marks as the settings file holds them (Shift-JIS) and as the program prints them (UTF-8).
const std::string Ok = SuccessMark;
const std::string Bad = FailureMark;
const std::string OkText = "(\u25CB)";
const std::string WasText = "(\u25B3)";
const std::string BadText = "(\u00D7)";

// A settings file as a user would have typed it: LF line ends, counts first.
std::string SettingsBytes(const Lines& Targets, const std::string& From, const std::string& Max,
                          const Lines& Proxies) {
    std::string Bytes = std::to_string(Targets.size()) + "\n";
    for (const std::string& Target : Targets) Bytes += Target + "\n";
    Bytes += From + "\n" + Max + "\n" + std::to_string(Proxies.size()) + "\n";
    for (const std::string& Proxy : Proxies) Bytes += Proxy + "\n";
    return Bytes;
}

// The proxy lines of a saved settings file, in UTF-8.
Lines SavedProxies(const std::string& FileName) {
    const Lines All = SplitSettingsLines(ReadWholeFile(FileName));
    if (All.empty()) return {};
    const size_t Targets = std::stoul(All[0]);
    Lines Proxies;
    for (size_t I = Targets + 4; I < All.size(); ++I) Proxies.push_back(platform::SjisToUtf8(All[I]));
    return Proxies;
}

// Every file of a folder with its bytes, to see that nothing changed.
std::map<std::string, std::string> FolderContent(const std::string& Folder) {
    std::map<std::string, std::string> Content;
    for (const auto& Entry : fs::recursive_directory_iterator(Folder))
        Content[Entry.path().string()] = Entry.is_regular_file() ? ReadWholeFile(Entry.path().string()) : "";
    return Content;
}

// "[i/N] line T ms", optionally " - reason".
const std::regex ResultLine(R"(^\[(\d+)/(\d+)\] (\S*) (\d+) ms(?: - (.+))?$)");

struct ResultFields {
    int Position = 0;
    int Count = 0;
    std::string Line;
    std::string Reason;
};

ResultFields ParseResult(const std::string& Text) {
    std::smatch Match;
    if (!std::regex_match(Text, Match, ResultLine)) {
        ADD_FAILURE() << "not a result line: " << Text;
        return {};
    }
    return {std::stoi(Match[1]), std::stoi(Match[2]), Match[3], Match[5]};
}

// A proxy that takes one connection, reads the request and then answers nothing, so the visit waits in
// the middle of a request for as long as the test likes.
class SilentProxy {
public:
    SilentProxy() {
        FListener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in Addr{};
        Addr.sin_family = AF_INET;
        Addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t Length = sizeof Addr;
        if (FListener < 0 || ::bind(FListener, reinterpret_cast<sockaddr*>(&Addr), sizeof Addr) != 0 ||
            ::listen(FListener, 4) != 0 ||
            ::getsockname(FListener, reinterpret_cast<sockaddr*>(&Addr), &Length) != 0)
            throw std::runtime_error("cannot listen for the proxy");
        FPort = ntohs(Addr.sin_port);
    }
    ~SilentProxy() {
        if (FClient >= 0) ::close(FClient);
        ::close(FListener);
    }

    uint16_t Port() const { return FPort; }

    // Accepts the client and reads its whole request header.
    bool TakeRequest() {
        if (!Readable(FListener)) return false;
        FClient = ::accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
        while (FClient >= 0 && Request.find("\r\n\r\n") == std::string::npos) {
            char Buffer[1024];
            const ssize_t N = Readable(FClient) ? ::recv(FClient, Buffer, sizeof Buffer, 0) : 0;
            if (N <= 0) return false;
            Request.append(Buffer, static_cast<size_t>(N));
        }
        return FClient >= 0;
    }
    // Closes the connection without an answer.
    void HangUp() {
        if (FClient >= 0) ::close(FClient);
        FClient = -1;
    }
    // True once the client has closed (or reset) its connection.
    bool ClientClosed() {
        char Byte = 0;
        return Readable(FClient) && ::recv(FClient, &Byte, 1, 0) <= 0;
    }

    std::string Request;

private:
    static bool Readable(int Fd) {
        pollfd Poll{Fd, POLLIN, 0};
        return ::poll(&Poll, 1, 30000) == 1;
    }

    int FListener = -1;
    int FClient = -1;
    uint16_t FPort = 0;
};

class CliTest : public ::testing::Test {
protected:
    std::string SettingsPath() const { return Folder.Path() + "/qelto.ini"; }
    void WriteSettings(const Lines& Targets, const std::string& From, const std::string& Max,
                       const Lines& Proxies) const {
        Folder.WriteFile("qelto.ini", SettingsBytes(Targets, From, Max, Proxies));
    }

    TempFolder Folder;
};

// A whole run through a working proxy, two dead ones (one that worked before) and a repeated line: one
// status line per step, one result line per proxy, the same marks in the file, exit status 0.
TEST_F(CliTest, RunsTheListToTheEndAndSavesTheMarks) {
    NginxServer Origin;
    Origin.AddFile("a.html", "<html>a</html>");
    Origin.AddFile("b.html", "<html>b</html>");
    TinyproxyServer Proxy;
    const std::string Working = "127.0.0.1:" + std::to_string(Proxy.Port());
    const std::string DeadBefore = "127.0.0.1:" + std::to_string(FreeLoopbackPort());
    const std::string Dead = "127.0.0.1:" + std::to_string(FreeLoopbackPort());
    const Lines Targets = {Origin.Url("a.html"), Origin.Url("b.html")};
    WriteSettings(Targets, " http://from.example/ ", "100",
                  {Working, DeadBefore + Ok, " " + Dead, Working + Bad});

    CliProcess Run({"--settings", SettingsPath(), "--pause-max", "20"});
    ASSERT_EQ(Run.Finish(), 0) << Run.Stderr();
    EXPECT_EQ(Run.Stderr(), "");
    EXPECT_EQ(Run.Stdout().find('\x1b'), std::string::npos); // no colour into a pipe

    const Lines Out = Run.StdoutLines();
    ASSERT_EQ(Out.size(), 7u) << Run.Stdout();
    EXPECT_EQ(Out[0], "Shaking.");
    Lines Marked;
    std::map<std::string, std::string> Reasons;
    for (int I = 0; I < 3; ++I) {
        const std::string& Get = Out[1 + 2 * I];
        const ResultFields Result = ParseResult(Out[2 + 2 * I]);
        EXPECT_EQ(Result.Position, I + 1);
        EXPECT_EQ(Result.Count, 3);
        // The status shows the line as it stood, the result the same proxy rewritten with its mark.
        const std::string Prefix = "Get " + std::to_string(I + 1) + ":";
        ASSERT_EQ(Get.rfind(Prefix, 0), 0u) << Get;
        EXPECT_EQ(ProxyKey(Get.substr(Prefix.size())), ProxyKey(Result.Line));
        Marked.push_back(Result.Line);
        Reasons[Result.Line] = Result.Reason;
    }
    EXPECT_EQ(std::set<std::string>(Marked.begin(), Marked.end()),
              (std::set<std::string>{Working + OkText, DeadBefore + WasText, Dead + BadText}));
    EXPECT_EQ(Reasons[Working + OkText], "");
    EXPECT_NE(Reasons[DeadBefore + WasText], "");
    EXPECT_NE(Reasons[Dead + BadText], "");

    // The file holds what the output said, in the same order, and the rest as it was typed.
    EXPECT_EQ(SavedProxies(SettingsPath()), Marked);
    const Lines Saved = SplitSettingsLines(ReadWholeFile(SettingsPath()));
    EXPECT_EQ(Lines(Saved.begin(), Saved.begin() + 5),
              (Lines{"2", Targets[0], Targets[1], " http://from.example/ ", "100"}));
}

// Without --settings the program takes qelto.ini from its own folder, as the window does.
TEST_F(CliTest, DefaultSettingsFileLiesBesideTheProgram) {
    const std::string Program = Folder.Path() + "/vindral-cli";
    fs::copy_file(VINDRAL_CLI_PROGRAM, Program);
    // No targets: every visit succeeds without a request.
    WriteSettings({}, "Edit1", "100", {"127.0.0.1:1"});

    CliProcess Run({"--pause-max", "0"}, CliProcess::Output::Pipe, Program);
    ASSERT_EQ(Run.Finish(), 0) << Run.Stderr();
    const Lines Out = Run.StdoutLines();
    ASSERT_EQ(Out.size(), 3u) << Run.Stdout();
    EXPECT_EQ(Out[1], "Get 1:127.0.0.1:1");
    EXPECT_EQ(ParseResult(Out[2]).Line, "127.0.0.1:1" + OkText);
    EXPECT_EQ(SavedProxies(SettingsPath()), Lines{"127.0.0.1:1" + OkText});
}

TEST_F(CliTest, HelpPrintsTheUsageAndRunsNothing) {
    WriteSettings({}, "Edit1", "100", {"127.0.0.1:1"});
    const auto Before = FolderContent(Folder.Path());
    CliProcess Run({"--settings", SettingsPath(), "--help"});
    EXPECT_EQ(Run.Finish(), 0);
    // Every option with its default.
    for (const char* Text : {"Usage: vindral-cli", "--settings FILE", "--pause-max MS", "=15000", "--jobs N",
                             "=1 ", "--timeout MS", "=30000", "--help"})
        EXPECT_NE(Run.Stdout().find(Text), std::string::npos) << Text << " in\n" << Run.Stdout();
    EXPECT_EQ(Run.Stderr(), "");
    EXPECT_EQ(FolderContent(Folder.Path()), Before);
}

// --version: the name and the version of the project, and nothing run.
TEST_F(CliTest, VersionPrintsTheProjectsVersionAndRunsNothing) {
    WriteSettings({}, "Edit1", "100", {"127.0.0.1:1"});
    const auto Before = FolderContent(Folder.Path());
    CliProcess Run({"--settings", SettingsPath(), "--version"});
    EXPECT_EQ(Run.Finish(), 0);
    EXPECT_EQ(Run.Stdout(), "vindral-cli " VINDRAL_VERSION "\n");
    EXPECT_EQ(Run.Stderr(), "");
    EXPECT_EQ(FolderContent(Folder.Path()), Before);
}

struct UnusableCase {
    const char* Name;
    // "FILE" stands for a usable settings file, "FOLDER" for its folder, "OUTPUT" for a file of working
    // proxies from an earlier run
    Lines Arguments;
    std::string Error;
    bool NeedsNonRoot = false; // root reads a file whatever its mode
};

void PrintTo(const UnusableCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

class CliUnusable : public CliTest, public ::testing::WithParamInterface<UnusableCase> {};

// A bad command line, a settings path that cannot be read or written, or an output file that could not be
// written at the end: one line on stderr, status 2, nothing on stdout and nothing changed, the output file
// of an earlier run included.
TEST_P(CliUnusable, ExitsWithStatus2AndChangesNothing) {
    const UnusableCase& Case = GetParam();
    if (Case.NeedsNonRoot && ::geteuid() == 0) GTEST_SKIP() << "root can read any file";
    WriteSettings({}, "Edit1", "100", {"127.0.0.1:1"});
    if (Case.NeedsNonRoot) ::chmod(SettingsPath().c_str(), 0200);
    const std::string Output = Folder.WriteFile("working.txt", "127.0.0.1:1\n");
    Lines Arguments;
    for (std::string Argument : Case.Arguments) {
        for (const auto& [Name, Value] : {std::pair<std::string, std::string>{"FILE", SettingsPath()},
                                          std::pair<std::string, std::string>{"FOLDER", Folder.Path()},
                                          std::pair<std::string, std::string>{"OUTPUT", Output}})
            if (const size_t At = Argument.find(Name); At != std::string::npos)
                Argument.replace(At, Name.size(), Value);
        Arguments.push_back(Argument);
    }
    const auto Before = FolderContent(Folder.Path());

    CliProcess Run(Arguments);
    EXPECT_EQ(Run.Finish(), 2);
    EXPECT_EQ(Run.Stdout(), "");
    EXPECT_EQ(Run.Stderr().rfind("vindral-cli: ", 0), 0u) << Run.Stderr();
    EXPECT_NE(Run.Stderr().find(Case.Error), std::string::npos) << Run.Stderr();
    EXPECT_EQ(Run.Stderr().find('\n'), Run.Stderr().size() - 1) << Run.Stderr(); // one line
    EXPECT_EQ(FolderContent(Folder.Path()), Before);
}

INSTANTIATE_TEST_SUITE_P(
    Invocations, CliUnusable,
    ::testing::Values(
        UnusableCase{"UnknownOption", {"--settings", "FILE", "--verbose"}, "unknown option '--verbose'"},
        UnusableCase{"StrayArgument", {"FILE"}, "unexpected argument"},
        UnusableCase{"MissingValue", {"--settings", "FILE", "--pause-max"}, "'--pause-max' needs a value"},
        UnusableCase{"NegativePause", {"--settings", "FILE", "--pause-max", "-1"}, "'--pause-max'"},
        UnusableCase{"PauseWithUnit", {"--settings=FILE", "--pause-max=10ms"}, "'--pause-max'"},
        UnusableCase{"NoJobs",
                     {"--settings", "FILE", "--jobs", "0"},
                     "option '--jobs' needs a whole number from 1 to 1000, not '0'"},
        UnusableCase{"TooManyJobs", {"--settings", "FILE", "--jobs=1001"}, "'--jobs'"},
        UnusableCase{"JobsInHex", {"--settings", "FILE", "--jobs", "0x10"}, "'--jobs'"},
        UnusableCase{"JobsWithoutValue", {"--settings", "FILE", "--jobs"}, "option '--jobs' needs a value"},
        UnusableCase{"NoTimeOut",
                     {"--settings", "FILE", "--timeout", "0"},
                     "option '--timeout' needs a whole number from 1 to 3600000, not '0'"},
        UnusableCase{"TimeOutWithUnit", {"--settings", "FILE", "--timeout=30s"}, "'--timeout'"},
        UnusableCase{"NegativeTimeOut", {"--settings", "FILE", "--timeout", "-5"}, "'--timeout'"},
        UnusableCase{"CaFileNotPem",
                     {"--settings", "FILE", "--ca-file", "FILE"},
                     "option '--ca-file' needs a PEM file of certificate authorities"},
        UnusableCase{"EmptySettings", {"--settings="}, "option '--settings' needs a"},
        UnusableCase{"SettingsIsAFolder", {"--settings", "FOLDER"}, "it is a folder"},
        UnusableCase{
            "FolderMissing", {"--settings", "FOLDER/missing/qelto.ini"}, "No such file or directory"},
        UnusableCase{"FolderIsAFile", {"--settings", "FILE/qelto.ini"}, "Not a directory"},
        UnusableCase{"UnreadableFile", {"--settings", "FILE"}, "Permission denied", true},
        UnusableCase{"UnknownFormat",
                     {"--settings", "FILE", "--output", "OUTPUT", "--format", "json"},
                     "option '--format' needs text or jsonl, not 'json'"},
        UnusableCase{
            "EmptyOutput", {"--settings", "FILE", "--output", ""}, "option '--output' needs a file name"},
        UnusableCase{"OutputWithUnusableSettings",
                     {"--settings", "FOLDER/missing/qelto.ini", "--output", "OUTPUT"},
                     "No such file or directory"},
        UnusableCase{"OutputIsAFolder", {"--settings", "FILE", "--output", "FOLDER"}, "it is a folder"},
        UnusableCase{"OutputIsTheSettings",
                     {"--settings", "FILE", "--output", "FOLDER/./qelto.ini"},
                     "it is the settings file"},
        UnusableCase{"OutputFolderMissing",
                     {"--settings", "FILE", "--output", "FOLDER/missing/working.txt"},
                     "No such file or directory"},
        UnusableCase{
            "OutputIsADevice", {"--settings", "FILE", "--output", "/dev/null"}, "not a regular file"}),
    [](const ::testing::TestParamInfo<UnusableCase>& Info) { return std::string(Info.param.Name); });

class CliSignal : public CliTest, public ::testing::WithParamInterface<int> {};

// A signal while a request waits for its answer aborts the request: the line keeps its text, the next
// line is not visited, the settings are saved, status 130.
TEST_P(CliSignal, DuringAVisitLeavesTheLineAndSaves) {
    const int Signal = GetParam();
    const char* Name = Signal == SIGINT ? "SIGINT" : "SIGTERM";
    SilentProxy Proxy;
    const std::string Silent = "127.0.0.1:" + std::to_string(Proxy.Port());
    const std::string Never = "127.0.0.1:" + std::to_string(FreeLoopbackPort());
    // The promotion puts the line that succeeded before first.
    WriteSettings({"http://127.0.0.1:1/page.html"}, "http://from/", "100",
                  {"  " + Never + "  ", Silent + Ok});

    CliProcess Run({"--settings", SettingsPath(), "--pause-max", "10"});
    ASSERT_TRUE(Proxy.TakeRequest()) << Run.Stdout();
    EXPECT_EQ(Proxy.Request.rfind("GET http://127.0.0.1:1/page.html HTTP/1.0\r\n", 0), 0u) << Proxy.Request;
    ASSERT_TRUE(Run.WaitForLine("Get 1:"));
    Run.Signal(Signal);
    EXPECT_EQ(Run.Finish(), 130) << Run.Stderr();
    EXPECT_EQ(Run.Stderr(), "");
    EXPECT_TRUE(Proxy.ClientClosed());

    const Lines Out = Run.StdoutLines();
    ASSERT_EQ(Out.size(), 4u) << Run.Stdout();
    EXPECT_EQ(Out[0], "Shaking.");
    EXPECT_EQ(Out[1], "Get 1:" + Silent + OkText);
    const ResultFields Result = ParseResult(Out[2]);
    EXPECT_EQ(Result.Line, Silent + OkText); // unmarked: the line as it was
    EXPECT_EQ(Result.Reason.rfind("stopped", 0), 0u) << Out[2];
    EXPECT_EQ(Out[3],
              std::string("Stopped by ") + Name + "; the settings are saved in '" + SettingsPath() + "'");
    // Saved, hence trimmed and with CR LF; the unvisited line unmarked too.
    EXPECT_EQ(ReadWholeFile(SettingsPath()),
              "1\r\nhttp://127.0.0.1:1/page.html\r\nhttp://from/\r\n100\r\n2\r\n" + Silent + Ok + "\r\n" +
                  Never + "\r\n");
}

// A signal during the pause between two proxies ends it at once: the visited line keeps its new mark,
// the next one is not visited.
TEST_P(CliSignal, DuringThePauseEndsTheRunAfterTheSave) {
    const int Signal = GetParam();
    WriteSettings({}, "Edit1", "100", {"127.0.0.1:1", "127.0.0.1:2"});

    // The first pause of this run is 18492 ms: the window's draw under this bound.
    CliProcess Run({"--settings", SettingsPath(), "--pause-max", "60000"});
    ASSERT_TRUE(Run.WaitForLine("[1/2]"));
    Run.Signal(Signal);
    EXPECT_EQ(Run.Finish(), 130) << Run.Stderr();

    const Lines Out = Run.StdoutLines();
    ASSERT_EQ(Out.size(), 4u) << Run.Stdout();
    const std::string Visited = ParseResult(Out[2]).Line;
    EXPECT_EQ(Visited.substr(Visited.size() - OkText.size()), OkText);
    EXPECT_EQ(Out[3].rfind("Stopped by ", 0), 0u);
    const Lines Saved = SavedProxies(SettingsPath());
    ASSERT_EQ(Saved.size(), 2u);
    EXPECT_EQ(Saved[0], Visited);
    EXPECT_EQ(Saved[1].find('('), std::string::npos); // never visited
}

// A reader that has seen enough and goes (vindral-cli | head -1) stops the run as a signal does: the
// program does not die of SIGPIPE, the visit under way ends with its mark, the rest is not visited, the
// settings are saved and standard error says so.
TEST_F(CliTest, AClosedOutputStopsTheRunAndSaves) {
    SilentProxy Proxy;
    const std::string Silent = "127.0.0.1:" + std::to_string(Proxy.Port());
    const std::string Never = "127.0.0.1:" + std::to_string(FreeLoopbackPort());
    // The promotion puts the line that succeeded before first.
    WriteSettings({"http://127.0.0.1:1/page.html"}, "http://from/", "100", {Never, Silent + Ok});

    CliProcess Run({"--settings", SettingsPath(), "--pause-max", "10"});
    ASSERT_TRUE(Proxy.TakeRequest()) << Run.Stdout();
    ASSERT_TRUE(Run.WaitForLine("Get 1:"));
    Run.CloseStdout();
    // The visit fails now; its result line is the first write that finds nobody reading.
    Proxy.HangUp();
    EXPECT_EQ(Run.Finish(), 130) << Run.Stderr();
    EXPECT_EQ(Run.Stderr(), "vindral-cli: Stopped by a closed output; the settings are saved in '" +
                                SettingsPath() + "'\n");
    EXPECT_EQ(ReadWholeFile(SettingsPath()),
              "1\r\nhttp://127.0.0.1:1/page.html\r\nhttp://from/\r\n100\r\n2\r\n" + Silent +
                  std::string(FallbackMark) + "\r\n" + Never + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(Signals, CliSignal, ::testing::Values(SIGINT, SIGTERM),
                         [](const ::testing::TestParamInfo<int>& Info) {
                             return std::string(Info.param == SIGINT ? "Sigint" : "Sigterm");
                         });

struct ColourCase {
    const char* Name;
    Lines Targets;
    std::string Proxy;
    std::string Marked;
    std::string Colour;
};

void PrintTo(const ColourCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

class CliColour : public CliTest, public ::testing::WithParamInterface<ColourCase> {};

// On a terminal the result line takes the colour of its mark; the status lines stay plain.
TEST_P(CliColour, ResultLinesOnATerminalAreColouredByMark) {
    const ColourCase& Case = GetParam();
    WriteSettings(Case.Targets, "Edit1", "100", {Case.Proxy});
    CliProcess Run({"--settings", SettingsPath(), "--pause-max", "0"}, CliProcess::Output::Terminal);
    ASSERT_EQ(Run.Finish(), 0) << Run.Stderr();
    const Lines Out = Run.StdoutLines();
    ASSERT_EQ(Out.size(), 3u) << Run.Stdout();
    EXPECT_EQ(Out[0], "Shaking.");
    EXPECT_EQ(Out[1], "Get 1:" + platform::SjisToUtf8(Case.Proxy));
    const std::string& Line = Out[2];
    ASSERT_EQ(Line.rfind(Case.Colour, 0), 0u) << Line;
    ASSERT_EQ(Line.substr(Line.size() - 4), "\x1b[0m");
    EXPECT_EQ(ParseResult(Line.substr(Case.Colour.size(), Line.size() - Case.Colour.size() - 4)).Line,
              Case.Marked);
}

// No targets: the visit succeeds without a request; an https target fails every visit without one.
INSTANTIATE_TEST_SUITE_P(
    Marks, CliColour,
    ::testing::Values(
        ColourCase{"Success", {}, "127.0.0.1:1", "127.0.0.1:1" + OkText, "\x1b[32m"},
        ColourCase{
            "Fallback", {"https://127.0.0.1/"}, "127.0.0.1:1" + Ok, "127.0.0.1:1" + WasText, "\x1b[33m"},
        ColourCase{"Failure", {"https://127.0.0.1/"}, "127.0.0.1:1", "127.0.0.1:1" + BadText, "\x1b[31m"}),
    [](const ::testing::TestParamInfo<ColourCase>& Info) { return std::string(Info.param.Name); });

} // namespace
