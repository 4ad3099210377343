// The settings file: the bytes a save writes, what loading makes of a table of files, and saves that
// cannot complete.
#include "app/SettingsFile.h"
#include "app/MemoryControls.h"
#include "app/ProxyList.h"

#include "AppFixtures.h"
#include "support/FileFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <ostream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

class SettingsFileTest : public FormFixture {};

TEST_F(SettingsFileTest, SaveWritesCountsTrimmedListLinesAndFieldsAsTyped) {
    Memo2.SetLines({"  http://127.0.0.1/a  ", "   ", "\thttp://127.0.0.1/b"});
    Edit1.SetText(" http://from/ ");
    Edit2.SetText("7 ");
    Memo1.SetLines({"10.1.1.1:8080" + std::string(SuccessMark), " 10.2.2.2:3128(\x81\x7E) ", ""});

    EXPECT_EQ(Form.SaveSettings(), 1);
    EXPECT_EQ(ReadFileBytes(SettingsPath()), "3\r\n"
                                             "http://127.0.0.1/a\r\n"
                                             "\r\n"
                                             "http://127.0.0.1/b\r\n"
                                             " http://from/ \r\n"
                                             "7 \r\n"
                                             "3\r\n"
                                             "10.1.1.1:8080\x28\x81\x9B\x29\r\n"
                                             "10.2.2.2:3128\x28\x81\x7E\x29\r\n"
                                             "\r\n");
    EXPECT_EQ(NamesIn(Folder.Path()), Lines{"qelto.ini"});
}

TEST_F(SettingsFileTest, SaveWithBothListsEmptyWritesFourLines) {
    EXPECT_EQ(Form.SaveSettings(), 1);
    EXPECT_EQ(ReadFileBytes(SettingsPath()), "0\r\nEdit1\r\n100\r\n0\r\n");
}

TEST_F(SettingsFileTest, SaveReplacesAWholeLongerFile) {
    WriteFileBytes(SettingsPath(), std::string(100000, 'x'));
    EXPECT_EQ(Form.SaveSettings(), 1);
    EXPECT_EQ(ReadFileBytes(SettingsPath()), "0\r\nEdit1\r\n100\r\n0\r\n");
}

TEST_F(SettingsFileTest, SaveThenShowGivesBackTheState) {
    const std::string LongLine = "http://127.0.0.1/" + std::string(100000, 'p');
    Memo2.SetLines({" http://127.0.0.1/a ", LongLine});
    Edit1.SetText("  from  ");
    Edit2.SetText(" 5");
    Memo1.SetLines({"1.1.1.1:80" + std::string(FallbackMark), "2.2.2.2:81"});
    ASSERT_EQ(Form.SaveSettings(), 1);

    std::vector<std::string> OtherLog;
    TMemoryMemo OtherMemo1({"Memo1"}), OtherMemo2({"Memo2"});
    TMemoryEdit OtherEdit1("Edit1"), OtherEdit2("100");
    TLoggingStatusBar OtherStatus(OtherLog);
    TForm1 Other(nullptr, {&OtherMemo1, &OtherMemo2, &OtherEdit1, &OtherEdit2, &OtherStatus});
    Other.SetSettingsFile(SettingsPath());
    Other.FormShow(&Other);

    EXPECT_EQ(OtherMemo2.Lines(), (Lines{"http://127.0.0.1/a", LongLine}));
    EXPECT_EQ(OtherEdit1.Text(), "  from  ");
    EXPECT_EQ(OtherEdit2.Text(), " 5");
    EXPECT_EQ(OtherMemo1.Lines(), (Lines{"1.1.1.1:80" + std::string(FallbackMark), "2.2.2.2:81"}));
}

struct LoadCase {
    const char* Name;
    bool Exists;
    std::string Bytes;
    Lines Targets;
    std::string From;
    std::string Max;
    Lines Proxies;
};

class SettingsLoad : public FormFixture, public ::testing::WithParamInterface<LoadCase> {};

// FormShow empties both lists (holding the window's initial texts "Memo1" and "Memo2"), then loads;
// the fields keep "Edit1" and "100" where the file does not replace them.
TEST_P(SettingsLoad, FillsTheListsAndFieldsAsFarAsTheFileGoes) {
    const LoadCase& Case = GetParam();
    if (Case.Exists) WriteFileBytes(SettingsPath(), Case.Bytes);
    Memo1.SetLines({"Memo1"});
    Memo2.SetLines({"Memo2"});
    Form.FormShow(&Form);
    EXPECT_EQ(Memo2.Lines(), Case.Targets);
    EXPECT_EQ(Edit1.Text(), Case.From);
    EXPECT_EQ(Edit2.Text(), Case.Max);
    EXPECT_EQ(Memo1.Lines(), Case.Proxies);
}

const std::string Line1023(1023, 'a');
const std::string Line100000(100000, 'b');

INSTANTIATE_TEST_SUITE_P(
    Files, SettingsLoad,
    ::testing::Values(
        LoadCase{"Missing", false, "", {}, "Edit1", "100", {}},
        LoadCase{"Empty", true, "", {}, "Edit1", "100", {}},
        LoadCase{"CrLf",
                 true,
                 "2\r\nhttp://a/\r\nhttp://b/\r\nFrom \r\n 7\r\n1\r\n1.1.1.1:80(\x81\x9B)\r\n",
                 {"http://a/", "http://b/"},
                 "From ",
                 " 7",
                 {"1.1.1.1:80(\x81\x9B)"}},
        LoadCase{"Lf",
                 true,
                 "2\nhttp://a/\nhttp://b/\nFrom \n 7\n1\n1.1.1.1:80\n",
                 {"http://a/", "http://b/"},
                 "From ",
                 " 7",
                 {"1.1.1.1:80"}},
        LoadCase{"MixedLineEnds",
                 true,
                 "1\nhttp://a/\r\nFrom\nMax\r\n1\n1.1.1.1:80\r\n",
                 {"http://a/"},
                 "From",
                 "Max",
                 {"1.1.1.1:80"}},
        // Only the line end goes: a last line without one keeps its last character.
        LoadCase{"LastLineWithoutLineEnd",
                 true,
                 "0\r\nFrom\r\nMax\r\n1\r\n1.1.1.1:80",
                 {},
                 "From",
                 "Max",
                 {"1.1.1.1:80"}},
        LoadCase{"LastFieldWithoutLineEnd", true, "0\r\nFrom\r\nMax", {}, "From", "Max", {}},
        // A CR that is not part of a line end belongs to the line.
        LoadCase{"LoneCarriageReturn", true, "0\r\nA\rB\r\r\nMax\r\n0\r\n", {}, "A\rB\r", "Max", {}},
        LoadCase{"Line1023",
                 true,
                 "1\r\n" + Line1023 + "\r\nFrom\r\nMax\r\n1\r\nx:1\r\n",
                 {Line1023},
                 "From",
                 "Max",
                 {"x:1"}},
        LoadCase{"Line100000",
                 true,
                 "0\r\nFrom\r\nMax\r\n2\r\n" + Line100000 + "\r\ny:2\r\n",
                 {},
                 "From",
                 "Max",
                 {Line100000, "y:2"}},
        LoadCase{"ShortOfTargets", true, "3\r\nhttp://a/\r\n", {"http://a/"}, "Edit1", "100", {}},
        LoadCase{"ShortOfProxies", true, "0\r\nFrom\r\nMax\r\n5\r\np:1\r\n", {}, "From", "Max", {"p:1"}},
        LoadCase{"StopsAfterFrom", true, "0\r\nFrom\r\n", {}, "From", "100", {}},
        // An unreadable count reads as 0; the positional lines that follow shift into the next items.
        LoadCase{"UnreadableTargetCount",
                 true,
                 "two\r\nhttp://a/\r\nhttp://b/\r\n1\r\np:1\r\n",
                 {},
                 "http://a/",
                 "http://b/",
                 {"p:1"}},
        LoadCase{
            "CountWithTrailingBlank", true, "1 \r\nhttp://a/\r\nMax\r\n0\r\n", {}, "http://a/", "Max", {}},
        LoadCase{"NegativeCounts", true, "-2\r\nFrom\r\nMax\r\n-1\r\np:1\r\n", {}, "From", "Max", {}},
        LoadCase{"HexadecimalCount",
                 true,
                 "$1\r\nhttp://a/\r\nFrom\r\nMax\r\n0\r\n",
                 {"http://a/"},
                 "From",
                 "Max",
                 {}},
        LoadCase{"ZeroTargets", true, "0\r\nFrom\r\nMax\r\n0\r\n", {}, "From", "Max", {}},
        // Blank list lines load as they stand, and lines after the last proxy are ignored.
        LoadCase{"BlankLinesAndTrailer",
                 true,
                 "1\r\n\r\nFrom\r\nMax\r\n2\r\n\r\n  \r\nextra\r\nmore\r\n",
                 {""},
                 "From",
                 "Max",
                 {"", "  "}}),
    [](const ::testing::TestParamInfo<LoadCase>& Info) { return std::string(Info.param.Name); });

TEST_F(SettingsFileTest, ShowOfAFolderInsteadOfAFileLoadsNothing) {
    fs::create_directory(SettingsPath());
    Form.FormShow(&Form);
    EXPECT_EQ(Memo1.LineCount(), 0);
    EXPECT_EQ(Memo2.LineCount(), 0);
    EXPECT_EQ(Edit1.Text(), "Edit1");
}

// Whatever stands in the way of a save, the file that was there stays whole and nothing is left behind.
struct Obstacle {
    const char* Name;
    int Resource; // the limit that stands in the way
    rlim_t Value; // its value during the save; a value of 0 for RLIMIT_NOFILE means "none left"
};

void PrintTo(const Obstacle& C, std::ostream* Out) {
    *Out << C.Name;
}

class SettingsSaveFailure : public FormFixture, public ::testing::WithParamInterface<Obstacle> {};

TEST_P(SettingsSaveFailure, KeepsTheOldFileAndReturnsZero) {
    const std::string Old = "1\r\nhttp://old/\r\nOld\r\n3\r\n1\r\nold:1\r\n";
    WriteFileBytes(SettingsPath(), Old);
    Memo1.SetLines({"new:2"});
    const std::string Bytes = FormatSettingsFile(Memo2, Edit1, Edit2, Memo1);
    // Past the file size limit a write fails (and raises SIGXFSZ, which would end the test).
    const auto OldHandler = std::signal(SIGXFSZ, SIG_IGN);
    bool Written = true;
    {
        // No descriptor left: the limit is the lowest free descriptor. Only the save itself runs under
        // it: the sanitizer's own checks of virtual calls need a descriptor.
        const rlim_t Value = GetParam().Value != 0 ? GetParam().Value : static_cast<rlim_t>(::dup(0));
        if (GetParam().Value == 0) ::close(static_cast<int>(Value));
        TLimitScope Limit(GetParam().Resource, Value);
        Written = WriteFileAtomically(SettingsPath(), Bytes);
    }
    std::signal(SIGXFSZ, OldHandler);

    EXPECT_FALSE(Written);
    EXPECT_EQ(ReadFileBytes(SettingsPath()), Old);
    EXPECT_EQ(NamesIn(Folder.Path()), Lines{"qelto.ini"});
}

INSTANTIATE_TEST_SUITE_P(Obstacles, SettingsSaveFailure,
                         ::testing::Values(
                             // The temporary file cannot be created.
                             Obstacle{"NoDescriptorLeft", RLIMIT_NOFILE, 0},
                             // The temporary file cannot be written in full, as on a full disk.
                             Obstacle{"FullDisk", RLIMIT_FSIZE, 5}),
                         [](const ::testing::TestParamInfo<Obstacle>& Info) {
                             return std::string(Info.param.Name);
                         });

// Written but not renamed into place: the temporary file goes again.
TEST_F(SettingsFileTest, SaveThatCannotRenameRemovesTheTemporaryFile) {
    fs::create_directory(SettingsPath());
    WriteFileBytes(SettingsPath() + "/keep", "kept");
    EXPECT_EQ(Form.SaveSettings(), 0);
    EXPECT_EQ(ReadFileBytes(SettingsPath() + "/keep"), "kept");
    EXPECT_EQ(NamesIn(Folder.Path()), Lines{"qelto.ini"});
}

// A file its owner made private stays private, one shared stays shared, and a new one is private,
// whatever the umask.
TEST_F(SettingsFileTest, SaveKeepsTheModeOfTheFileItReplaces) {
    struct ModeCase {
        int Before; // -1: no file yet
        mode_t Umask;
        int After;
    };
    const ModeCase Cases[] = {{-1, 0, 0600},     {-1, 022, 0600},   {0600, 022, 0600}, {0640, 022, 0640},
                              {0644, 077, 0644}, {0604, 022, 0604}, {0400, 022, 0400}};
    for (const ModeCase& C : Cases) {
        SCOPED_TRACE("mode " + std::to_string(C.Before) + ", umask " + std::to_string(C.Umask));
        fs::remove(SettingsPath());
        if (C.Before >= 0) WriteBytes(SettingsPath(), "old", C.Before);
        TUmaskScope Umask(C.Umask);
        ASSERT_EQ(Form.SaveSettings(), 1);
        EXPECT_EQ(ModeOf(SettingsPath()), C.After);
        EXPECT_EQ(ReadFileBytes(SettingsPath()), "0\r\nEdit1\r\n100\r\n0\r\n");
    }
}

// A settings file that is a link of the user's: the link stays as it was and the file it leads to is
// replaced where it lies, with its mode, leaving nothing beside either.
struct LinkCase {
    const char* Name;
    // Link, what it holds; "@" at the start stands for the folder's absolute path.
    std::vector<std::pair<std::string, std::string>> Links;
    std::string Target; // where the settings end up
    bool TargetExists;
};

void PrintTo(const LinkCase& C, std::ostream* Out) {
    *Out << C.Name;
}

class SettingsSaveThroughLink : public FormFixture, public ::testing::WithParamInterface<LinkCase> {};

TEST_P(SettingsSaveThroughLink, ReplacesTheFileTheLinkLeadsToAndKeepsTheLink) {
    const LinkCase& C = GetParam();
    fs::create_directories(Folder.Path() + "real/deeper");
    const std::string Target = Folder.Path() + C.Target;
    if (C.TargetExists) WriteBytes(Target, "old", 0640);
    const auto Held = [&](const std::string& To) {
        return To.front() == '@' ? Folder.Path() + To.substr(1) : To;
    };
    for (const auto& [Link, To] : C.Links) fs::create_symlink(Held(To), Folder.Path() + Link);
    Memo1.SetLines({"new:2"});

    ASSERT_EQ(Form.SaveSettings(), 1);

    for (const auto& [Link, To] : C.Links) {
        ASSERT_TRUE(fs::is_symlink(Folder.Path() + Link)) << Link;
        EXPECT_EQ(fs::read_symlink(Folder.Path() + Link).string(), Held(To));
    }
    EXPECT_EQ(ReadFileBytes(Target), "0\r\nEdit1\r\n100\r\n1\r\nnew:2\r\n");
    EXPECT_EQ(ModeOf(Target), C.TargetExists ? 0640 : 0600);
    EXPECT_EQ(NamesIn(Folder.Path() + "real/deeper"), Lines{"settings.ini"});
    Lines Expected = {"real"};
    for (const auto& Link : C.Links) Expected.push_back(Link.first);
    std::sort(Expected.begin(), Expected.end());
    EXPECT_EQ(NamesIn(Folder.Path()), Expected);
    // And it loads back through the link.
    Memo1.Clear();
    Form.FormShow(&Form);
    EXPECT_EQ(Memo1.Lines(), Lines{"new:2"});
}

INSTANTIATE_TEST_SUITE_P(
    Links, SettingsSaveThroughLink,
    ::testing::Values(
        LinkCase{"Relative", {{"qelto.ini", "real/deeper/settings.ini"}}, "real/deeper/settings.ini", true},
        LinkCase{"Absolute", {{"qelto.ini", "@real/deeper/settings.ini"}}, "real/deeper/settings.ini", true},
        LinkCase{"Chain",
                 {{"middle", "real/deeper/settings.ini"}, {"qelto.ini", "middle"}},
                 "real/deeper/settings.ini",
                 true},
        LinkCase{"ToAFileNotYetThere",
                 {{"qelto.ini", "real/deeper/settings.ini"}},
                 "real/deeper/settings.ini",
                 false}),
    [](const ::testing::TestParamInfo<LinkCase>& Info) { return std::string(Info.param.Name); });

// A link that somebody else put in the user's folder is not followed: the save replaces the link with
// the settings file, and the file it pointed to is never written.
TEST_F(SettingsFileTest, SaveReplacesALinkOfSomebodyElseInsteadOfFollowingIt) {
    const std::string Victim = Folder.Path() + "victim";
    WriteBytes(Victim, "precious", 0600);
    fs::create_symlink(Victim, SettingsPath());
    if (::lchown(SettingsPath().c_str(), 65534, 65534) != 0)
        GTEST_SKIP() << "only root can plant a link of another user";

    ASSERT_EQ(Form.SaveSettings(), 1);
    EXPECT_FALSE(fs::is_symlink(SettingsPath()));
    EXPECT_EQ(ReadFileBytes(SettingsPath()), "0\r\nEdit1\r\n100\r\n0\r\n");
    EXPECT_EQ(ReadFileBytes(Victim), "precious");
}

TEST_F(SettingsFileTest, SaveThroughALinkThatLeadsNowhereReturnsZero) {
    fs::create_symlink("qelto.ini", SettingsPath());
    EXPECT_EQ(Form.SaveSettings(), 0);
    EXPECT_TRUE(fs::is_symlink(SettingsPath()));
    EXPECT_EQ(NamesIn(Folder.Path()), Lines{"qelto.ini"});
}

// Temporary files that killed saves left beside the settings file go with the next save; those of a save
// under way in a live process, and every other file, stay.
TEST_F(SettingsFileTest, SaveRemovesTheTemporaryFilesOfKilledSavesOnly) {
    const std::string Dead = std::to_string(DeadPid());
    const std::string Live = std::to_string(::getppid());
    for (const std::string& Name : {"qelto.ini." + Dead + ".Ab3xYz.tmp", "qelto.ini." + Dead + ".tmp",
                                    "qelto.ini." + Live + ".Ab3xYz.tmp", "notes.txt." + Dead + ".Ab3xYz.tmp",
                                    std::string("qelto.ini.bak")})
        WriteBytes(Folder.Path() + Name, "x");

    ASSERT_EQ(Form.SaveSettings(), 1);
    Lines Expected = {"notes.txt." + Dead + ".Ab3xYz.tmp", "qelto.ini", "qelto.ini." + Live + ".Ab3xYz.tmp",
                      "qelto.ini.bak"};
    std::sort(Expected.begin(), Expected.end());
    EXPECT_EQ(NamesIn(Folder.Path()), Expected);
}

TEST_F(SettingsFileTest, SaveIntoAMissingFolderReturnsZero) {
    Form.SetSettingsFolder(Folder.Path() + "missing");
    EXPECT_EQ(Form.SaveSettings(), 0);
    EXPECT_FALSE(fs::exists(Folder.Path() + "missing"));
}

} // namespace
