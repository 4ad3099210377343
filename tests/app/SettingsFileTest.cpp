// The settings file: the bytes a save writes, what loading makes of a table of files, and saves that
// cannot complete.
#include "app/SettingsFile.h"
#include "app/MemoryControls.h"
#include "app/ProxyList.h"

#include "AppFixtures.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
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
    EXPECT_FALSE(fs::exists(SettingsTempFile(SettingsPath())));
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
    std::function<void(const std::string& TempFile)> Place;
};

class SettingsSaveFailure : public FormFixture, public ::testing::WithParamInterface<Obstacle> {};

TEST_P(SettingsSaveFailure, KeepsTheOldFileAndReturnsZero) {
    const std::string Old = "1\r\nhttp://old/\r\nOld\r\n3\r\n1\r\nold:1\r\n";
    WriteFileBytes(SettingsPath(), Old);
    const std::string TempFile = SettingsTempFile(SettingsPath());
    GetParam().Place(TempFile);
    Memo1.SetLines({"new:2"});

    EXPECT_EQ(Form.SaveSettings(), 0);
    EXPECT_EQ(ReadFileBytes(SettingsPath()), Old);
    EXPECT_FALSE(fs::is_regular_file(fs::symlink_status(TempFile)));
}

INSTANTIATE_TEST_SUITE_P(
    Obstacles, SettingsSaveFailure,
    ::testing::Values(
        // The temporary file cannot be created.
        Obstacle{"FolderWhereTheTemporaryFileGoes",
                 [](const std::string& Temp) { fs::create_directory(Temp); }},
        // The temporary file cannot be written in full, as on a full disk.
        Obstacle{"FullDisk", [](const std::string& Temp) { fs::create_symlink("/dev/full", Temp); }}),
    [](const ::testing::TestParamInfo<Obstacle>& Info) { return std::string(Info.param.Name); });

// Written but not renamed into place: the temporary file goes again.
TEST_F(SettingsFileTest, SaveThatCannotRenameRemovesTheTemporaryFile) {
    fs::create_directory(SettingsPath());
    WriteFileBytes(SettingsPath() + "/keep", "kept");
    EXPECT_EQ(Form.SaveSettings(), 0);
    EXPECT_EQ(ReadFileBytes(SettingsPath() + "/keep"), "kept");
    EXPECT_FALSE(fs::exists(SettingsTempFile(SettingsPath())));
}

TEST_F(SettingsFileTest, SaveIntoAMissingFolderReturnsZero) {
    Form.SetSettingsFolder(Folder.Path() + "missing");
    EXPECT_EQ(Form.SaveSettings(), 0);
    EXPECT_FALSE(fs::exists(Folder.Path() + "missing"));
}

} // namespace
