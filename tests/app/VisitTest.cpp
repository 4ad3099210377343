// The visit end to end: requests through a real proxy (tinyproxy) and straight to a real origin
// (python3's http.server, which records the headers it received), all on loopback ports.
#include "app/ProxyList.h"

#include "AppFixtures.h"
#include "support/FileFixtures.h"
#include "support/HttpPeer.h"
#include "support/RealServers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <filesystem>
#include <map>
#include <netinet/in.h>
#include <set>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

const std::string Ok = SuccessMark;
const std::string Was = FallbackMark;
const std::string Bad = FailureMark;

// Appends "path TAB Referer TAB User-Agent" for every GET before answering it (a missing header shows
// as "<none>"), then serves the file from the root folder. The listening socket is handed over already
// listening, so the origin takes connections from the moment it exists.
constexpr const char* OriginScript = R"(
import functools, http.server, socket, sys
fd, root, log = int(sys.argv[1]), sys.argv[2], sys.argv[3]
class Handler(http.server.SimpleHTTPRequestHandler):
    def do_GET(self):
        with open(log, 'a', encoding='latin-1') as f:
            f.write('\t'.join([self.path, self.headers.get('Referer', '<none>'),
                               self.headers.get('User-Agent', '<none>')]) + '\n')
        super().do_GET()
    def log_message(self, *args):
        pass
server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), functools.partial(Handler, directory=root),
                                         bind_and_activate=False)
server.socket.close()
server.socket = socket.socket(fileno=fd)
server.serve_forever()
)";

struct OriginRequest {
    std::string Path;
    std::string Referer;
    std::string UserAgent;
};

class RecordingOrigin {
public:
    RecordingOrigin() {
        fs::create_directories(Root());
        // Inherited by the child: not close-on-exec.
        const int Fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in Addr{};
        Addr.sin_family = AF_INET;
        Addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t Length = sizeof Addr;
        if (Fd < 0 || ::bind(Fd, reinterpret_cast<sockaddr*>(&Addr), sizeof Addr) != 0 ||
            ::listen(Fd, 16) != 0 || ::getsockname(Fd, reinterpret_cast<sockaddr*>(&Addr), &Length) != 0) {
            if (Fd >= 0) ::close(Fd);
            throw std::runtime_error("cannot listen for the origin");
        }
        FPort = ntohs(Addr.sin_port);
        const std::string Script = FFolder.WriteFile("origin.py", OriginScript);
        FProcess = ChildProcess({"/usr/bin/python3", Script, std::to_string(Fd), Root(), LogFile()},
                                FFolder.Path() + "/origin.out");
        ::close(Fd);
    }

    std::string Root() const { return FFolder.Path() + "/www"; }
    std::string Url(const std::string& Name) const {
        return "http://127.0.0.1:" + std::to_string(FPort) + "/" + Name;
    }
    void Serve(const std::string& Name, const std::string& Bytes) const {
        FFolder.WriteFile("www/" + Name, Bytes);
    }
    // Every GET received so far; each is written down before it is answered.
    std::vector<OriginRequest> Requests() const {
        std::vector<OriginRequest> Result;
        std::istringstream In(ReadWholeFile(LogFile()));
        for (std::string Line; std::getline(In, Line);) {
            OriginRequest Request;
            std::istringstream Fields(Line);
            std::getline(Fields, Request.Path, '\t');
            std::getline(Fields, Request.Referer, '\t');
            std::getline(Fields, Request.UserAgent);
            Result.push_back(Request);
        }
        return Result;
    }

private:
    std::string LogFile() const { return FFolder.Path() + "/requests.log"; }

    TempFolder FFolder;
    uint16_t FPort = 0;
    ChildProcess FProcess;
};

class VisitEndToEnd : public FormFixture {
protected:
    VisitEndToEnd() {
        Form.PauseHook = [](int) {};
        Origin.Serve("a.html", "<html>page a</html>");
        Origin.Serve("b.html", "<html>page b</html>");
    }

    RecordingOrigin Origin;
};

// One run over a working proxy, a port where nothing listens, an empty host (straight to the origin)
// and a proxy that worked before and is dead now. A 404 counts as fetched.
TEST_F(VisitEndToEnd, RunMarksEveryKindOfProxy) {
    TinyproxyServer Proxy;
    const std::string Dead = std::to_string(FreeLoopbackPort());
    const std::string Working = "127.0.0.1:" + std::to_string(Proxy.Port());
    Memo2.SetLines({Origin.Url("a.html"), "  " + Origin.Url("b.html") + " ", Origin.Url("missing.html")});
    Edit1.SetText("  http://from.example/page  ");
    Memo1.SetLines({Working, "127.0.0.1:" + Dead, ":1", "127.0.0.2:" + Dead + Ok});

    std::map<std::string, std::string> Programs; // line as rewritten -> identification sent
    Form.OnVisitResult = [&](TForm1* Sender, const TVisitResult& Result) {
        Programs[Result.Line] = Sender->VexHTTP1->HeaderInfo->LocalProgram;
        // Deleted after each completed request and after a failed one.
        EXPECT_NE(Sender->ScratchFile(), "");
        EXPECT_FALSE(fs::exists(Sender->ScratchFile()));
        if (Result.Mark == TProxyMark::Success) {
            EXPECT_EQ(Result.Failure, "");
        } else {
            EXPECT_NE(Result.Failure, "");
        }
    };
    Form.Button1Click(&Form);

    Lines Marked = Memo1.Lines();
    Lines Expected = {":1" + Ok, Working + Ok, "127.0.0.1:" + Dead + Bad, "127.0.0.2:" + Dead + Was};
    std::sort(Marked.begin(), Marked.end());
    std::sort(Expected.begin(), Expected.end());
    EXPECT_EQ(Marked, Expected);
    EXPECT_EQ(NamesIn(Folder.Path()), Lines{"qelto.ini"});

    // Three requests through the proxy and three straight ones, each with the trimmed From text and the
    // identification of its visit.
    const std::vector<OriginRequest> Requests = Origin.Requests();
    ASSERT_EQ(Requests.size(), 6u);
    std::multiset<std::string> Paths;
    for (const OriginRequest& Request : Requests) {
        Paths.insert(Request.Path.substr(Request.Path.rfind('/')));
        EXPECT_EQ(Request.Referer, "http://from.example/page");
    }
    EXPECT_EQ(Paths, (std::multiset<std::string>{"/a.html", "/a.html", "/b.html", "/b.html", "/missing.html",
                                                 "/missing.html"}));
    std::multiset<std::string> Sent, Picked;
    for (const OriginRequest& Request : Requests) Sent.insert(Request.UserAgent);
    for (const std::string& Line : {":1" + Ok, Working + Ok})
        for (int I = 0; I < 3; ++I) Picked.insert(Programs.at(Line));
    EXPECT_EQ(Sent, Picked);
}

// Six draws put the generator where a first run over one line visits: row 1, whose text ends with a
// blank, and that blank reaches the origin through the proxy.
TEST_F(VisitEndToEnd, ProxiedVisitSendsRowOneWithItsTrailingBlank) {
    TinyproxyServer Proxy;
    Memo2.SetLines({Origin.Url("a.html")});
    Edit1.SetText("http://from/");
    for (int I = 0; I < 6; ++I) Rand();
    EXPECT_EQ(Form.VisitProxy("127.0.0.1", Proxy.Port()), 1);
    const std::vector<OriginRequest> Requests = Origin.Requests();
    ASSERT_EQ(Requests.size(), 1u);
    EXPECT_EQ(Requests[0].UserAgent, "Mozilla/4.78 [ja] (Windows NT 5.0; U) ");
    EXPECT_EQ(Requests[0].Referer, "http://from/");
}

struct VisitCase {
    const char* Name;
    Lines Targets; // "ORIGIN/" stands for the origin's address
    std::string From;
    int Result;
    std::string Error;
    Lines Received;      // paths the origin received, in order
    std::string Referer; // what the origin saw
};

class VisitStraight : public VisitEndToEnd, public ::testing::WithParamInterface<VisitCase> {};

// Visits with an empty proxy host go straight to each target: the first failure ends the visit, and
// the targets after it are not requested. An https target goes over TLS (here to a port where nothing
// listens).
TEST_P(VisitStraight, FetchesEveryTargetOrStopsAtTheFirstFailure) {
    const VisitCase& Case = GetParam();
    Lines Targets;
    for (std::string Target : Case.Targets) {
        if (Target.rfind("ORIGIN/", 0) == 0) Target = Origin.Url(Target.substr(7));
        Targets.push_back(Target);
    }
    Memo2.SetLines(Targets);
    Edit1.SetText(Case.From);

    EXPECT_EQ(Form.VisitProxy("", 0), Case.Result);
    EXPECT_EQ(Form.LastVisitError, Case.Error);
    const std::vector<OriginRequest> Requests = Origin.Requests();
    Lines Paths;
    for (const OriginRequest& Request : Requests) {
        Paths.push_back(Request.Path);
        EXPECT_EQ(Request.Referer, Case.Referer);
    }
    EXPECT_EQ(Paths, Case.Received);
    // A visit outside a run leaves no folder and no body behind, whatever its end.
    EXPECT_EQ(NamesIn(Folder.Path()), Lines{});
}

INSTANTIATE_TEST_SUITE_P(
    Targets, VisitStraight,
    ::testing::Values(VisitCase{"AllFetched",
                                {"ORIGIN/a.html", "ORIGIN/b.html"},
                                " \thttp://from/ ",
                                1,
                                "",
                                {"/a.html", "/b.html"},
                                "http://from/"},
                      VisitCase{
                          "EmptyFromSendsNoReferer", {"ORIGIN/a.html"}, "   ", 1, "", {"/a.html"}, "<none>"},
                      VisitCase{"NoTargets", {}, "", 1, "", {}, ""},
                      VisitCase{"EmptyTargetLine",
                                {"ORIGIN/a.html", " ", "ORIGIN/b.html"},
                                "f",
                                0,
                                "Empty URL",
                                {"/a.html"},
                                "f"},
                      VisitCase{"SecureTarget",
                                {"https://127.0.0.1:1/secure/page.html", "ORIGIN/a.html"},
                                "f",
                                0,
                                "Connection Failed",
                                {},
                                ""}),
    [](const ::testing::TestParamInfo<VisitCase>& Info) { return std::string(Info.param.Name); });

TEST_F(VisitEndToEnd, FirstTargetRefusedEndsTheVisit) {
    Memo2.SetLines({"http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/x", Origin.Url("a.html")});
    EXPECT_EQ(Form.VisitProxy("", 0), 0);
    EXPECT_NE(Form.LastVisitError, "");
    EXPECT_TRUE(Origin.Requests().empty());
}

// A stop while a real response is still arriving aborts the request at once: the line keeps its text,
// the run ends and saves, long before the visit's 30 s time-out would have ended it.
TEST_F(VisitEndToEnd, StopDuringARequestAbortsItAndLeavesTheLine) {
    HttpPeer Proxy(
        {OnePacket("HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\nthe first bytes", HttpPeerEnd::HoldOpen)});
    const std::string Line = "127.0.0.1:" + std::to_string(Proxy.Port());
    Memo1.SetLines({Line});
    Memo2.SetLines({"http://127.0.0.1:1/slow.html"});
    Form.VexHTTP1->OnPacketRecvd = [&](TComponent*) { Form.RequestStop(); };
    Form.Button1Click(&Form);

    EXPECT_EQ(Memo1.Lines(), Lines{Line});
    EXPECT_NE(Form.LastVisitError, "");
    EXPECT_FALSE(Form.VexHTTP1->TimedOut); // ended by the stop, not by the time-out
    EXPECT_EQ(Log, (Lines{"status Shaking.", "status Get 1:" + Line, "visit " + Line, "save", "status "}));
    EXPECT_EQ(ReadFileBytes(SettingsPath()),
              "1\r\nhttp://127.0.0.1:1/slow.html\r\nEdit1\r\n100\r\n1\r\n" + Line + "\r\n");
    EXPECT_TRUE(Proxy.WaitClientClosed(0));
}

} // namespace
