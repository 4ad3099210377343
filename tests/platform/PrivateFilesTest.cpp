// Private files and folders: created exclusively and privately, never through something planted at their
// name; leftovers of dead processes swept, the work of live ones and every other file left alone.
#include "platform/PrivateFiles.h"

#include "support/FileFixtures.h"
#include "support/RealServers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace platform;
namespace fs = std::filesystem;

namespace {

// Someone other than the user running the tests, as the owner of planted files.
constexpr uid_t Stranger = 65534;

// Whatever stands at the name beforehand is neither opened nor changed, and nothing is created through it.
TEST(CreateExclusiveFile, RefusesAnythingAtItsNameAndFollowsNoLink) {
    TempFolder Folder;
    const std::string Victim = Folder.Path() + "/victim";
    WriteBytes(Victim, "precious");
    const std::string Name = Folder.Path() + "/scratch";
    const std::vector<std::pair<const char*, std::function<void()>>> Planted = {
        {"link to a file", [&] { fs::create_symlink(Victim, Name); }},
        {"link to nowhere", [&] { fs::create_symlink(Folder.Path() + "/created-through-link", Name); }},
        {"file", [&] { WriteBytes(Name, "theirs"); }},
        {"folder", [&] { fs::create_directory(Name); }},
    };
    for (const auto& [What, Plant] : Planted) {
        SCOPED_TRACE(What);
        fs::remove_all(Name);
        Plant();
        const UniqueFd Fd = CreateExclusiveFile(Name);
        EXPECT_FALSE(Fd);
        EXPECT_EQ(errno, EEXIST);
        EXPECT_EQ(ReadWholeFile(Victim), "precious");
        EXPECT_FALSE(fs::exists(Folder.Path() + "/created-through-link"));
    }
}

TEST(CreateExclusiveFile, MakesAFileOnlyTheUserCanOpenWhateverTheUmask) {
    TempFolder Folder;
    for (const mode_t Mask : {mode_t{0}, mode_t{022}, mode_t{077}}) {
        TUmaskScope Umask(Mask);
        const std::string Name = Folder.Path() + "/f" + std::to_string(Mask);
        const UniqueFd Fd = CreateExclusiveFile(Name);
        ASSERT_TRUE(Fd);
        EXPECT_EQ(ModeOf(Name), 0600) << Mask;
        EXPECT_EQ(::write(Fd.Get(), "x", 1), 1);
    }
}

TEST(CreateUniqueFile, MakesAPrivateFileNamedAfterTheProcessAndHoldsItsLock) {
    TempFolder Folder;
    const std::string Prefix = Folder.Path() + "/qelto.ini.";
    std::string First, Second;
    const UniqueFd A = CreateUniqueFile(Prefix, ".tmp", First);
    const UniqueFd B = CreateUniqueFile(Prefix, ".tmp", Second);
    ASSERT_TRUE(A && B);
    EXPECT_NE(First, Second);
    for (const std::string& Name : {First, Second}) {
        EXPECT_EQ(Name.rfind(Prefix + std::to_string(::getpid()) + ".", 0), 0u) << Name;
        EXPECT_EQ(Name.substr(Name.size() - 4), ".tmp");
        EXPECT_EQ(ModeOf(Name), 0600);
    }
    // Another open of the file cannot take the lock while the creator holds it.
    const UniqueFd Other(::open(First.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(Other);
    EXPECT_NE(::flock(Other.Get(), LOCK_EX | LOCK_NB), 0);
}

struct SweepCase {
    const char* Name; // with {dead} and {live} standing for process numbers
    const char* Kind; // "file", "link", "folder" or "locked" (a file whose lock someone holds)
    bool Goes;        // removed by the sweep of "qelto.ini." ... ".tmp"
};

std::string Expand(std::string Name, pid_t Dead) {
    for (const auto& [Mark, Value] : {std::pair<std::string, std::string>{"{dead}", std::to_string(Dead)},
                                      {"{live}", std::to_string(::getppid())},
                                      {"{self}", std::to_string(::getpid())}})
        for (size_t At; (At = Name.find(Mark)) != std::string::npos;) Name.replace(At, Mark.size(), Value);
    return Name;
}

TEST(RemoveLeftoverFiles, RemovesOnlyTheTemporaryFilesOfDeadProcesses) {
    const std::vector<SweepCase> Cases = {
        {"qelto.ini.{dead}.Ab3xYz.tmp", "file", true},
        {"qelto.ini.{dead}.tmp", "file", true}, // the shape without a random part
        {"qelto.ini.{dead}.Qw9Er7.tmp", "link", true},
        {"qelto.ini.{live}.Ab3xYz.tmp", "file", false},
        {"qelto.ini.{self}.Ab3xYz.tmp", "file", false},
        {"qelto.ini.{dead}.Zz1Zz1.tmp", "locked", false},
        {"qelto.ini.{dead}.Dir000.tmp", "folder", false},
        {"qelto.ini", "file", false},
        {"qelto.ini.bak", "file", false},
        {"qelto.ini.{dead}.Ab3xYz.tmp.keep", "file", false},
        {"qelto.ini.{dead}.Ab3.tmp", "file", false},
        {"qelto.ini.{dead}.Ab-xYz.tmp", "file", false},
        {"qelto.ini.x{dead}.tmp", "file", false},
        {"other.ini.{dead}.Ab3xYz.tmp", "file", false},
        {"Xqelto.ini.{dead}.Ab3xYz.tmp", "file", false},
    };
    TempFolder Folder;
    const std::string Outside = Folder.Path() + "/outside/";
    fs::create_directory(Outside);
    WriteBytes(Outside + "target", "kept");
    const pid_t Dead = DeadPid();
    std::vector<UniqueFd> Locks;
    for (const SweepCase& C : Cases) {
        const std::string Path = Folder.Path() + "/" + Expand(C.Name, Dead);
        const std::string Kind = C.Kind;
        if (Kind == "link") {
            fs::create_symlink(Outside + "target", Path);
        } else if (Kind == "folder") {
            fs::create_directory(Path);
        } else {
            WriteBytes(Path, "x");
            if (Kind == "locked") {
                Locks.emplace_back(::open(Path.c_str(), O_RDONLY | O_CLOEXEC));
                ASSERT_EQ(::flock(Locks.back().Get(), LOCK_EX), 0);
            }
        }
    }

    RemoveLeftoverFiles(Folder.Path() + "/", "qelto.ini.", ".tmp");

    for (const SweepCase& C : Cases) {
        const std::string Path = Folder.Path() + "/" + Expand(C.Name, Dead);
        EXPECT_EQ(fs::exists(fs::symlink_status(Path)), !C.Goes) << C.Name << " (" << C.Kind << ")";
    }
    EXPECT_EQ(ReadWholeFile(Outside + "target"), "kept");
}

TEST(TPrivateFolder, IsPrivateFreshAndGoesWithEverythingInIt) {
    TempFolder Parent;
    const std::string Outside = Parent.Path() + "/outside";
    WriteBytes(Outside, "kept");
    std::string Path;
    {
        TUmaskScope Umask(0);
        std::optional<TPrivateFolder> A = TPrivateFolder::Create(Parent.Path() + "/", "vindral-visit.");
        std::optional<TPrivateFolder> B = TPrivateFolder::Create(Parent.Path() + "/", "vindral-visit.");
        ASSERT_TRUE(A && B);
        Path = A->Path();
        EXPECT_NE(A->Path(), B->Path());
        EXPECT_EQ(Path.rfind(Parent.Path() + "/vindral-visit." + std::to_string(::getpid()) + ".", 0), 0u);
        EXPECT_EQ(Path.back(), '/');
        EXPECT_EQ(ModeOf(Path), 0700);
        EXPECT_EQ(A->File("temp.html"), Path + "temp.html");

        WriteBytes(A->File("temp.html"), "body");
        fs::create_directories(Path + "deeper/still");
        WriteBytes(Path + "deeper/still/file", "x");
        fs::create_symlink(Outside, Path + "link");
        fs::create_symlink(Parent.Path() + "/", Path + "deeper/folder-link");

        // A move hands the folder over; the moved-from object removes nothing.
        TPrivateFolder Moved = std::move(*A);
        A.reset();
        EXPECT_TRUE(fs::is_directory(Path));
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(Path)));
    EXPECT_EQ(ReadWholeFile(Outside), "kept");
    EXPECT_EQ(NamesIn(Parent.Path() + "/"), std::vector<std::string>{"outside"});
}

TEST(TPrivateFolder, CreateRemovesTheFoldersOfDeadProcessesOnly) {
    TempFolder Parent;
    const pid_t Dead = DeadPid();
    const std::string Prefix = "vindral-visit.";
    const std::string DeadOwn = Prefix + std::to_string(Dead) + ".Ab3xYz";
    const std::string LiveOwn = Prefix + std::to_string(::getppid()) + ".Ab3xYz";
    const std::string DeadStrangers = Prefix + std::to_string(Dead) + ".Cd4xYz";
    const std::string DeadNoRandom = Prefix + std::to_string(Dead);
    const std::string DeadLink = Prefix + std::to_string(Dead) + ".Ef5xYz";
    const std::string DeadFile = Prefix + std::to_string(Dead) + ".Gh6xYz";
    const std::string Elsewhere = "elsewhere";
    for (const std::string& Name : {DeadOwn, LiveOwn, DeadStrangers, DeadNoRandom, Elsewhere}) {
        fs::create_directory(Parent.Path() + "/" + Name);
        WriteBytes(Parent.Path() + "/" + Name + "/temp.html", "x");
    }
    // Only root can give a folder away; elsewhere that case drops out.
    const bool Given = ::chown((Parent.Path() + "/" + DeadStrangers).c_str(), Stranger, Stranger) == 0;
    if (!Given) fs::remove_all(Parent.Path() + "/" + DeadStrangers);
    fs::create_symlink(Parent.Path() + "/" + Elsewhere, Parent.Path() + "/" + DeadLink);
    WriteBytes(Parent.Path() + "/" + DeadFile, "x");

    const std::optional<TPrivateFolder> Fresh = TPrivateFolder::Create(Parent.Path() + "/", Prefix);
    ASSERT_TRUE(Fresh);

    std::vector<std::string> Expected = {
        DeadFile,  DeadLink, DeadNoRandom,
        Elsewhere, LiveOwn,  fs::path(Fresh->Path()).parent_path().filename().string()};
    if (Given) Expected.push_back(DeadStrangers);
    std::sort(Expected.begin(), Expected.end());
    EXPECT_EQ(NamesIn(Parent.Path() + "/"), Expected);
    EXPECT_EQ(ReadWholeFile(Parent.Path() + "/" + Elsewhere + "/temp.html"), "x");
}

TEST(TPrivateFolder, CreateFailsWhereNoFolderCanBeMade) {
    TempFolder Parent;
    EXPECT_FALSE(TPrivateFolder::Create(Parent.Path() + "/missing/", "vindral-visit."));
    WriteBytes(Parent.Path() + "/file", "x");
    EXPECT_FALSE(TPrivateFolder::Create(Parent.Path() + "/file/", "vindral-visit."));
}

} // namespace
