#include "platform/System.h"

#include "support/FileFixtures.h"
#include "support/RealServers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <unistd.h>
#include <utility>

using namespace platform;

namespace {

// The result marks in the system's code page and in UTF-8.
const std::string CircleSjis = "\x81\x9B";
const std::string TriangleSjis = "\x81\xA2";
const std::string CrossSjis = "\x81\x7E";
const std::string CircleUtf8 = "\xE2\x97\x8B";
const std::string TriangleUtf8 = "\xE2\x96\xB3";
const std::string CrossUtf8 = "\xC3\x97";

} // namespace

TEST(Text, MarksRoundTripBetweenShiftJisAndUtf8) {
    const std::pair<std::string, std::string> Cases[] = {
        {CircleSjis, CircleUtf8},
        {TriangleSjis, TriangleUtf8},
        {CrossSjis, CrossUtf8},
        {"(" + CircleSjis + ")proxy:8080", "(" + CircleUtf8 + ")proxy:8080"},
        {"", ""},
        {std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const auto& [Sjis, Utf8] : Cases) {
        EXPECT_EQ(SjisToUtf8(Sjis), Utf8);
        EXPECT_EQ(Utf8ToSjis(Utf8), Sjis);
    }
}

TEST(Text, UnconvertibleBytesBecomeQuestionMarksAndTheRestSurvives) {
    const std::pair<std::string, std::string> ToUtf8[] = {
        {"A\x81", "A?"},                         // cut off after a lead byte
        {"\x81\x20Z", "? Z"},                    // a lead byte without a trail byte
        {"\xA0" + CircleSjis, "?" + CircleUtf8}, // a byte CP932 leaves unassigned
    };
    for (const auto& [Sjis, Utf8] : ToUtf8) EXPECT_EQ(SjisToUtf8(Sjis), Utf8);
    const std::pair<std::string, std::string> ToSjis[] = {
        {"x\xF0\x9F\x98\x80y", "x?y"}, // a character CP932 does not have
        {"\xFFok", "?ok"},             // not UTF-8 at all
        {"\xE2\x97" + CrossUtf8, "?" + CrossSjis},
    };
    for (const auto& [Utf8, Sjis] : ToSjis) EXPECT_EQ(Utf8ToSjis(Utf8), Sjis);
}

TEST(Process, ExecutableDirectoryIsTheProgramsFolder) {
    const std::string Folder = ExecutableDirectory();
    ASSERT_FALSE(Folder.empty());
    EXPECT_EQ(Folder.back(), '/');
    char Path[PATH_MAX + 1] = {};
    ASSERT_GT(::readlink("/proc/self/exe", Path, PATH_MAX), 0);
    const std::string Program(Path);
    const std::string ProgramFolder = Program.substr(0, Program.rfind('/') + 1);
    if (::access(ProgramFolder.c_str(), W_OK) == 0) {
        EXPECT_EQ(Folder, ProgramFolder);
    } else {
        const std::string UserFolder = "/.local/share/vindral/";
        EXPECT_EQ(Folder.substr(Folder.size() - UserFolder.size()), UserFolder);
        EXPECT_EQ(::access(Folder.c_str(), W_OK), 0) << "created on first use";
    }
}

// The fallback for an installed copy: made private to the user, the folders above it too where missing,
// and made private again where it is not.
TEST(Process, UserDataFolderIsPrivateToTheUser) {
    TempFolder Home;
    TUmaskScope Umask(022);
    const std::string Folder = UserDataFolder(Home.Path() + "/");
    EXPECT_EQ(Folder, Home.Path() + "/.local/share/vindral/");
    for (const std::string& Made : {Home.Path() + "/.local", Home.Path() + "/.local/share", Folder})
        EXPECT_EQ(ModeOf(Made), 0700) << Made;

    ASSERT_EQ(::chmod(Folder.c_str(), 0755), 0);
    ASSERT_EQ(::chmod((Home.Path() + "/.local/share").c_str(), 0755), 0);
    EXPECT_EQ(UserDataFolder(Home.Path()), Folder);
    EXPECT_EQ(ModeOf(Folder), 0700);
    EXPECT_EQ(ModeOf(Home.Path() + "/.local/share"), 0755) << "folders above it are not the program's";

    EXPECT_EQ(UserDataFolder(""), "");
    EXPECT_EQ(UserDataFolder(Home.Path() + "/missing/home"),
              Home.Path() + "/missing/home/.local/share/vindral/");
    WriteBytes(Home.Path() + "/file", "x");
    EXPECT_EQ(UserDataFolder(Home.Path() + "/file"), "");
}

TEST(Process, SleepBlocksForAtLeastItsTime) {
    const auto Before = std::chrono::steady_clock::now();
    Sleep(30);
    EXPECT_GE(std::chrono::steady_clock::now() - Before, std::chrono::milliseconds(30));
}
