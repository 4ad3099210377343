// The window program's command line: the options it shares with vindral-cli, --help, --version and bad
// values answered without opening a window, and the toolkit's own options left to the toolkit.
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <ostream>
#include <regex>
#include <string>

namespace {

struct ProgramRun {
    int Status = -1;
    std::string Out;
    std::string Err;
};

ProgramRun RunProgram(const QStringList& Arguments) {
    QProcess Program;
    QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
    Environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    Program.setProcessEnvironment(Environment);
    Program.start(QStringLiteral(VINDRAL_PROGRAM), Arguments);
    ProgramRun Run;
    if (!Program.waitForFinished(60000)) {
        Program.kill();
        Program.waitForFinished();
        return Run;
    }
    Run.Status = Program.exitStatus() == QProcess::NormalExit ? Program.exitCode() : -1;
    Run.Out = Program.readAllStandardOutput().toStdString();
    Run.Err = Program.readAllStandardError().toStdString();
    return Run;
}

struct BadCase {
    const char* Name;
    QStringList Arguments;
    const char* Error;
};

void PrintTo(const BadCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

class WindowProgramRefuses : public ::testing::TestWithParam<BadCase> {};

TEST_P(WindowProgramRefuses, ABadCommandLineWithStatus2) {
    const ProgramRun Run = RunProgram(GetParam().Arguments);
    EXPECT_EQ(Run.Status, 2);
    EXPECT_EQ(Run.Out, "");
    // (Qt may have warned of its own before, once it has started.)
    EXPECT_NE(Run.Err.find(std::string("vindral: ") + GetParam().Error), std::string::npos) << Run.Err;
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, WindowProgramRefuses,
    ::testing::Values(
        BadCase{"NoJobs", {"--jobs", "0"}, "option '--jobs' needs a whole number from 1 to 1000, not '0'"},
        BadCase{"TooManyJobs", {"--jobs=1001"}, "option '--jobs'"},
        BadCase{"TimeOutWithUnit", {"--timeout", "30s"}, "option '--timeout' needs a whole number"},
        BadCase{"MissingValue", {"--timeout"}, "option '--timeout' needs a value"},
        // Known only once the toolkit has taken its own options.
        BadCase{"UnknownOption", {"-platform", "offscreen", "--verbose"}, "unknown option '--verbose'"}),
    [](const ::testing::TestParamInfo<BadCase>& Info) { return std::string(Info.param.Name); });

TEST(WindowProgram, HelpShowsEveryOptionWithItsDefault) {
    const ProgramRun Run = RunProgram({QStringLiteral("--help")});
    EXPECT_EQ(Run.Status, 0);
    EXPECT_EQ(Run.Err, "");
    for (const char* Text : {"Usage: vindral", "--settings FILE", "--pause-max MS", "=15000", "--jobs N",
                             "=1 ", "--timeout MS", "=30000", "--help"})
        EXPECT_NE(Run.Out.find(Text), std::string::npos) << Text << " in\n" << Run.Out;
}

// Printed before the toolkit starts, so it needs no display either.
TEST(WindowProgram, VersionNamesTheProgramAndItsVersion) {
    const ProgramRun Run = RunProgram({QStringLiteral("--version")});
    EXPECT_EQ(Run.Status, 0);
    EXPECT_EQ(Run.Err, "");
    EXPECT_TRUE(std::regex_match(Run.Out, std::regex("vindral [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << Run.Out;
}

} // namespace
