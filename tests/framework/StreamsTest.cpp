#include "framework/Exceptions.h"
#include "framework/TFileStream.h"
#include "framework/TMemoryStream.h"
#include "support/FileFixtures.h"
#include "support/RealServers.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

TEST(TMemoryStream, ReadsWhatWasWrittenAndReportsShortReads) {
    TMemoryStream S;
    S.WriteBuffer("hello", 5);
    EXPECT_EQ(S.Size(), 5);
    S.SetPosition(1);
    char Buf[8] = {};
    EXPECT_EQ(S.Read(Buf, 8), 4);
    EXPECT_EQ(std::string(Buf, 4), "ello");
    EXPECT_EQ(S.Read(Buf, 8), 0);
    S.SetPosition(3);
    EXPECT_THROW(S.ReadBuffer(Buf, 3), EStreamReadError);
    S.SetPosition(5);
    S.WriteBuffer("!", 1);
    EXPECT_EQ(S.DataString(), "hello!");
}

TEST(TFileStream, CreateOpenAndTheirErrors) {
    char Dir[] = "/tmp/vindral-fs-XXXXXX";
    ASSERT_NE(mkdtemp(Dir), nullptr);
    std::string Path = std::string(Dir) + "/f.bin";
    {
        TFileStream Out(Path, TFileMode::Create);
        Out.WriteBuffer("abc\0def", 7);
        EXPECT_EQ(Out.Size(), 7);
    }
    {
        TFileStream In(Path, TFileMode::OpenRead);
        char Buf[16];
        EXPECT_EQ(In.Read(Buf, 16), 7);
        EXPECT_EQ(std::string(Buf, 7), std::string("abc\0def", 7));
        EXPECT_EQ(In.Position(), 7);
    }
    {
        TFileStream W(Path, TFileMode::OpenWrite);
        EXPECT_EQ(W.Position(), 0);
        W.WriteBuffer("X", 1);
    }
    {
        TFileStream In(Path, TFileMode::OpenRead);
        char C = 0;
        In.ReadBuffer(&C, 1);
        EXPECT_EQ(C, 'X');
    }
    EXPECT_THROW(TFileStream(std::string(Dir) + "/missing", TFileMode::OpenRead), EFileOpenError);
    EXPECT_THROW(TFileStream(std::string(Dir) + "/no/such/dir", TFileMode::Create), EFileCreateError);
    std::remove(Path.c_str());
    rmdir(Dir);
}

// Response bodies and headers land in files this creates: private to the user whatever the umask, while
// a file that exists is emptied and keeps the mode its owner gave it.
TEST(TFileStream, CreateMakesPrivateFilesAndKeepsTheModeOfAnExistingOne) {
    TempFolder Folder;
    TUmaskScope Umask(0);
    const std::string New = Folder.Path() + "/new.html";
    { TFileStream Out(New, TFileMode::Create); }
    EXPECT_EQ(ModeOf(New), 0600);

    const std::string Shared = Folder.Path() + "/shared.html";
    WriteBytes(Shared, "old content", 0644);
    {
        TFileStream Out(Shared, TFileMode::Create);
        EXPECT_EQ(Out.Size(), 0);
    }
    EXPECT_EQ(ModeOf(Shared), 0644);
}

// A write the system refuses names the reason, as a full disk does here.
TEST(TFileStream, WriteToAFullDeviceRaisesWithTheReason) {
    TFileStream Full("/dev/full", TFileMode::OpenWrite);
    try {
        Full.WriteBuffer("abc", 3);
        FAIL() << "no exception";
    } catch (const EStreamWriteError& E) {
        EXPECT_EQ(E.Message, std::string("Stream write error: ") + std::strerror(ENOSPC));
    }
}
