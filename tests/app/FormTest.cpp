// The form as the window creates it: its HTTP component and where its files go.
#include "platform/System.h"

#include "AppFixtures.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST_F(FormFixture, CreatesVexHTTP1WithItsDesignValues) {
    TVexHTTP& Http = *Form.VexHTTP1;
    EXPECT_EQ(Http.Owner(), &Form);
    EXPECT_EQ(Http.Name, "VexHTTP1");
    EXPECT_FALSE(Http.HasState(TComponentState::Loading));
    EXPECT_EQ(Http.Port, 0);
    EXPECT_EQ(Http.ReportLevel, 0);
    EXPECT_EQ(Http.Body, "Default.htm");
    EXPECT_EQ(Http.Header, "Head.txt");
    EXPECT_FALSE(Http.InputFileMode);
    EXPECT_FALSE(Http.OutputFileMode);
    EXPECT_EQ(Http.ProxyPort, 0);
    EXPECT_EQ(Http.Proxy, "");
}

struct PathCase {
    std::string Folder;   // given to SetSettingsFolder, unless File is set
    std::string File;     // given to SetSettingsFile
    std::string Settings; // expected
    std::string Scratch;  // expected folder of the runs' private scratch folders
};

class FormPaths : public FormFixture, public ::testing::WithParamInterface<PathCase> {};

TEST_P(FormPaths, PutTheScratchFolderBesideTheSettingsFile) {
    const PathCase& Case = GetParam();
    if (Case.File.empty())
        Form.SetSettingsFolder(Case.Folder);
    else
        Form.SetSettingsFile(Case.File);
    EXPECT_EQ(Form.SettingsFile(), Case.Settings);
    EXPECT_EQ(Form.ScratchParent(), Case.Scratch);
    // Only a run (or a visit) has a scratch file.
    EXPECT_EQ(Form.ScratchFile(), "");
}

INSTANTIATE_TEST_SUITE_P(Paths, FormPaths,
                         ::testing::Values(PathCase{"/srv/v/", "", "/srv/v/qelto.ini", "/srv/v/"},
                                           PathCase{"/srv/v", "", "/srv/v/qelto.ini", "/srv/v/"},
                                           PathCase{"", "/etc/vindral/run.ini", "/etc/vindral/run.ini",
                                                    "/etc/vindral/"},
                                           PathCase{"", "run.ini", "run.ini", ""},
                                           PathCase{"", "cfg/run.ini", "cfg/run.ini", "cfg/"}));

TEST(Form, KeepsItsFilesInTheExecutableDirectoryByDefault) {
    std::vector<std::string> Log;
    TMemoryMemo Memo1, Memo2;
    TMemoryEdit Edit1, Edit2;
    TLoggingStatusBar StatusBar1(Log);
    TForm1 Form(nullptr, {&Memo1, &Memo2, &Edit1, &Edit2, &StatusBar1});
    EXPECT_EQ(Form.SettingsFile(), platform::ExecutableDirectory() + "qelto.ini");
    EXPECT_EQ(Form.ScratchParent(), platform::ExecutableDirectory());
}

} // namespace
