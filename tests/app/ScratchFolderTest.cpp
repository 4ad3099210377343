// Where a run keeps the bodies proxies send: a folder of its own that only the user can enter, made
// beside the settings file and gone with everything in it when the run ends. A body is gone as soon as
// its visit ends, whatever the end; a link planted where the scratch files once lay is never followed.
#include "app/ProxyList.h"

#include "AppFixtures.h"
#include "HangGuard.h"
#include "support/FileFixtures.h"
#include "support/HttpPeer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

const std::string ScratchPrefix = ".vindral-scratch-";

// Three megabytes of a body announced as eight, then the proxy closes: a failed transfer.
HttpPeerReply CutBody() {
    return OnePacket("HTTP/1.0 200 OK\r\nContent-Length: 8000000\r\n\r\n" + std::string(3000000, 'b'));
}

HttpPeerReply SmallBody() {
    return OnePacket("HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nbody");
}

class ScratchFolder : public FormFixture, public testing::WithParamInterface<int> {
protected:
    ScratchFolder() {
        Memo2.SetLines({"http://127.0.0.1:9/page.html"});
        Form.Jobs = GetParam();
        Form.PauseMax = 0;
    }

    // One proxy per reply, each a line of the list.
    void AddProxies(int Count, const HttpPeerReply& Reply) {
        for (int I = 0; I < Count; ++I) {
            Peers.push_back(std::make_unique<HttpPeer>(std::vector<HttpPeerReply>{Reply}));
            List.push_back("127.0.0.1:" + std::to_string(Peers.back()->Port()));
        }
    }

    void Run() {
        Memo1.SetLines(List);
        THangGuard Guard(60s, "a run over " + std::to_string(List.size()) + " proxies");
        Form.Button1Click(&Form);
    }

    // The run's own folders in the settings folder, with their paths.
    std::vector<std::string> RunFolders() const {
        std::vector<std::string> Found;
        for (const std::string& Name : NamesIn(Folder.Path()))
            if (Name.rfind(ScratchPrefix, 0) == 0) Found.push_back(Folder.Path() + Name);
        return Found;
    }

    std::vector<std::unique_ptr<HttpPeer>> Peers;
    Lines List;
};

// Proxies that send megabytes and then fail: each visit's body is gone when its result comes, the last
// result finds the run's folder empty, and the run leaves nothing but the settings file.
TEST_P(ScratchFolder, FailedBodiesOfMegabytesLeaveNothingOnDisk) {
    AddProxies(3, CutBody());
    int Results = 0;
    Form.OnVisitResult = [&](TForm1*, const TVisitResult& Result) {
        EXPECT_EQ(Result.Mark, TProxyMark::Failure);
        const std::vector<std::string> Folders = RunFolders();
        ASSERT_EQ(Folders.size(), 1u);
        EXPECT_EQ(ModeOf(Folders[0]), 0700);
        // One at a time, nothing else is under way; many at once, the last result ends the last visit.
        if (GetParam() == 1 || ++Results == 3) {
            EXPECT_EQ(NamesIn(Folders[0]), Lines{});
        }
    };
    Run();
    for (const std::string& Line : Memo1.Lines()) EXPECT_EQ(Line, ProxyKey(Line) + FailureMark);
    EXPECT_EQ(NamesIn(Folder.Path()), Lines{"qelto.ini"});
}

// Links planted at the names the scratch files once had, beside the settings file, leading to a file
// of the user's: the run neither writes through them nor removes them.
TEST_P(ScratchFolder, LinksPlantedAtTheOldNamesAreNeverFollowed) {
    AddProxies(4, SmallBody());
    TTempFolder Elsewhere;
    const std::string Precious = Elsewhere.Path() + "precious";
    WriteFileBytes(Precious, "keep me");
    const Lines Planted = {"temp-1.html", "temp-2.html", "temp-3.html", "temp-4.html", "temp.html"};
    for (const std::string& Name : Planted) fs::create_symlink(Precious, Folder.Path() + Name);

    Run();

    for (const std::string& Line : Memo1.Lines()) EXPECT_EQ(Line, ProxyKey(Line) + SuccessMark);
    EXPECT_EQ(ReadFileBytes(Precious), "keep me");
    Lines Expected = Planted;
    Expected.insert(Expected.begin(), "qelto.ini");
    EXPECT_EQ(NamesIn(Folder.Path()), Expected);
    for (const std::string& Name : Planted) EXPECT_EQ(fs::read_symlink(Folder.Path() + Name), Precious);
}

INSTANTIATE_TEST_SUITE_P(Jobs, ScratchFolder, testing::Values(1, 3),
                         [](const testing::TestParamInfo<int>& Info) {
                             return "AtATime" + std::to_string(Info.param);
                         });

// While the body arrives, it lies in a file of mode 0600 in a folder of mode 0700 that the run made in
// the settings folder.
TEST_F(FormFixture, BodiesArriveInAFileOnlyTheUserCanOpen) {
    HttpPeer Proxy({SmallBody()});
    Memo1.SetLines({"127.0.0.1:" + std::to_string(Proxy.Port())});
    Memo2.SetLines({"http://127.0.0.1:9/page.html"});
    int FileMode = -1;
    int FolderMode = -1;
    std::string Parent;
    Form.VexHTTP1->OnPacketRecvd = [&](TComponent*) {
        const fs::path Body(Form.VexHTTP1->Body);
        if (!fs::exists(Body)) return; // the header's packets
        FileMode = ModeOf(Body.string());
        FolderMode = ModeOf(Body.parent_path().string());
        Parent = Body.parent_path().parent_path().string() + "/";
    };
    {
        TUmaskScope Open(0); // what the folder and the file allow is theirs, not the umask's
        Form.Button1Click(&Form);
    }
    EXPECT_EQ(Memo1.Line(0), "127.0.0.1:" + std::to_string(Proxy.Port()) + SuccessMark);
    EXPECT_EQ(FileMode, 0600);
    EXPECT_EQ(FolderMode, 0700);
    EXPECT_EQ(Parent, Folder.Path());
    EXPECT_EQ(NamesIn(Folder.Path()), Lines{"qelto.ini"});
}

} // namespace
