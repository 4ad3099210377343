// The command line both programs share: what each option sets, the forms a value may take, what is
// refused and how it is said, and the options handed to the form.
#include "app/ProgramOptions.h"

#include "AppFixtures.h"
#include "support/TlsServers.h"

#include <CLI/CLI.hpp>
#include <gtest/gtest.h>

#include <ostream>
#include <regex>
#include <string>
#include <vector>

namespace {

using Arguments = std::vector<std::string>;

TParsedOptions Parse(const Arguments& Given, TForeignArguments Foreign = TForeignArguments::Refuse) {
    return ParseProgramOptions(Given, "vindral-test", "About.", "Footer.", Foreign);
}

struct GoodCase {
    const char* Name;
    Arguments Given;
    TProgramOptions Expected;
};

void PrintTo(const GoodCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

class ProgramOptionsRead : public ::testing::TestWithParam<GoodCase> {};

TEST_P(ProgramOptionsRead, SetWhatTheyName) {
    const TParsedOptions Parsed = Parse(GetParam().Given);
    ASSERT_EQ(Parsed.Outcome, TOptionsOutcome::Run) << Parsed.Text;
    const TProgramOptions& Expected = GetParam().Expected;
    EXPECT_EQ(Parsed.Options.SettingsFile, Expected.SettingsFile);
    EXPECT_EQ(Parsed.Options.PauseMax, Expected.PauseMax);
    EXPECT_EQ(Parsed.Options.Jobs, Expected.Jobs);
    EXPECT_EQ(Parsed.Options.TimeOut, Expected.TimeOut);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, ProgramOptionsRead,
    ::testing::Values(GoodCase{"Defaults", {}, {"", 15000, 1, 30000}},
                      GoodCase{"Every",
                               {"--settings", "/srv/q.ini", "--pause-max", "0", "--jobs", "1000", "--timeout",
                                "1"},
                               {"/srv/q.ini", 0, 1000, 1}},
                      GoodCase{"WithEquals",
                               {"--jobs=64", "--timeout=3000", "--settings=a b.ini"},
                               {"a b.ini", 15000, 64, 3000}},
                      GoodCase{"LaterWins",
                               {"--jobs", "3", "--jobs=5", "--timeout", "9", "--timeout", "10"},
                               {"", 15000, 5, 10}},
                      GoodCase{"LongestTimeOut", {"--timeout", "3600000"}, {"", 15000, 1, 3600000}},
                      GoodCase{"LongestPause", {"--pause-max", "2147483647"}, {"", 2147483647, 1, 30000}}),
    [](const ::testing::TestParamInfo<GoodCase>& Info) { return std::string(Info.param.Name); });

struct BadCase {
    const char* Name;
    Arguments Given;
    std::string Error;
};

void PrintTo(const BadCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

class ProgramOptionsRefused : public ::testing::TestWithParam<BadCase> {};

TEST_P(ProgramOptionsRefused, WithOneClearLine) {
    const TParsedOptions Parsed = Parse(GetParam().Given);
    EXPECT_EQ(Parsed.Outcome, TOptionsOutcome::Bad);
    EXPECT_EQ(Parsed.Text, GetParam().Error);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, ProgramOptionsRefused,
    ::testing::Values(
        BadCase{"NoJobs", {"--jobs", "0"}, "option '--jobs' needs a whole number from 1 to 1000, not '0'"},
        BadCase{"TooManyJobs",
                {"--jobs", "1001"},
                "option '--jobs' needs a whole number from 1 to 1000, not '1001'"},
        BadCase{"JobsBeyondInt",
                {"--jobs", "99999999999"},
                "option '--jobs' needs a whole number from 1 to 1000, not '99999999999'"},
        BadCase{"JobsWithBlank",
                {"--jobs", " 5"},
                "option '--jobs' needs a whole number from 1 to 1000, not ' 5'"},
        BadCase{"JobsWithSign",
                {"--jobs", "+5"},
                "option '--jobs' needs a whole number from 1 to 1000, not '+5'"},
        BadCase{"NoTimeOut",
                {"--timeout", "0"},
                "option '--timeout' needs a whole number from 1 to 3600000, not '0'"},
        BadCase{"TimeOutInHex",
                {"--timeout", "0x10"},
                "option '--timeout' needs a whole number from 1 to 3600000, not '0x10'"},
        BadCase{"TimeOutTooLong",
                {"--timeout", "3600001"},
                "option '--timeout' needs a whole number from 1 to 3600000, not '3600001'"},
        BadCase{"NegativePause",
                {"--pause-max", "-1"},
                "option '--pause-max' needs a whole number from 0 to 2147483647, not '-1'"},
        BadCase{"MissingValue", {"--timeout"}, "option '--timeout' needs a value"},
        BadCase{"EmptySettings", {"--settings", ""}, "option '--settings' needs a file name"},
        BadCase{"UnknownOption", {"--verbose"}, "unknown option '--verbose'"},
        BadCase{"StrayArgument", {"list.ini"}, "unexpected argument 'list.ini'"}),
    [](const ::testing::TestParamInfo<BadCase>& Info) { return std::string(Info.param.Name); });

// Arguments that are no option of ours are left to the window's toolkit when asked.
TEST(ProgramOptions, ForeignArgumentsAreLeftWhenAllowed) {
    const TParsedOptions Parsed = Parse({"-platform", "offscreen", "--jobs", "2"}, TForeignArguments::Allow);
    EXPECT_EQ(Parsed.Outcome, TOptionsOutcome::Run);
    EXPECT_EQ(Parsed.Options.Jobs, 2);
    // A bad value of our own is refused all the same.
    EXPECT_EQ(Parse({"-platform", "offscreen", "--jobs", "0"}, TForeignArguments::Allow).Outcome,
              TOptionsOutcome::Bad);
}

// --version wins over whatever else is given, as --help does: nothing runs.
TEST(ProgramOptions, VersionNamesTheProgramAndItsVersion) {
    for (const Arguments& Given : {Arguments{"--version"}, Arguments{"--jobs", "4", "--version"},
                                   Arguments{"--version", "--settings", "x.ini"}}) {
        const TParsedOptions Parsed = Parse(Given);
        EXPECT_EQ(Parsed.Outcome, TOptionsOutcome::Version);
        EXPECT_TRUE(std::regex_match(Parsed.Text, std::regex("vindral-test [0-9]+\\.[0-9]+\\.[0-9]+\n")))
            << Parsed.Text;
    }
}

// A program's own options are read with the shared ones, and their refusals worded alike.
TEST(ProgramOptions, ExtraOptionsOfOneProgram) {
    std::string Colour = "none";
    const auto Extra = [&Colour](CLI::App& App) {
        App.add_option("--colour", Colour, "a colour")->check(CLI::IsMember({"red", "green"}));
    };
    const TParsedOptions Read = ParseProgramOptions({"--colour=red", "--jobs", "3"}, "vindral-test", "About.",
                                                    "Footer.", TForeignArguments::Refuse, Extra);
    EXPECT_EQ(Read.Outcome, TOptionsOutcome::Run);
    EXPECT_EQ(Read.Options.Jobs, 3);
    EXPECT_EQ(Colour, "red");
    const TParsedOptions Refused = ParseProgramOptions({"--colour", "blue"}, "vindral-test", "About.",
                                                       "Footer.", TForeignArguments::Refuse, Extra);
    EXPECT_EQ(Refused.Outcome, TOptionsOutcome::Bad);
    EXPECT_EQ(Refused.Text.rfind("option '--colour'", 0), 0u) << Refused.Text;
    const TParsedOptions Help = ParseProgramOptions({"--help"}, "vindral-test", "About.", "Footer.",
                                                    TForeignArguments::Refuse, Extra);
    EXPECT_NE(Help.Text.find("--colour"), std::string::npos) << Help.Text;
}

TEST(ProgramOptions, HelpNamesEveryOptionWithItsDefault) {
    for (const char* Help : {"--help", "-h"}) {
        const TParsedOptions Parsed = Parse({"--jobs", "4", Help});
        EXPECT_EQ(Parsed.Outcome, TOptionsOutcome::Help);
        for (const char* Text :
             {"Usage: vindral-test [OPTIONS]", "About.", "--settings FILE", "--pause-max MS=15000",
              "--jobs N=1 ", "--timeout MS=30000", "--ca-file FILE", "Footer."})
            EXPECT_NE(Parsed.Text.find(Text), std::string::npos) << Text << " in\n" << Parsed.Text;
    }
}

TEST_F(FormFixture, OptionsAreHandedToTheForm) {
    const std::string Before = Form.SettingsFile();
    TProgramOptions Options;
    Options.PauseMax = 7;
    Options.Jobs = 12;
    Options.TimeOut = 250;
    Options.ApplyTo(Form);
    EXPECT_EQ(Form.SettingsFile(), Before); // none named: the form keeps its own
    EXPECT_EQ(Form.PauseMax, 7);
    EXPECT_EQ(Form.Jobs, 12);
    EXPECT_EQ(Form.VisitTimeOut, 250);
    EXPECT_EQ(Form.CaFile, "");
    Options.SettingsFile = "/srv/other.ini";
    Options.CaFile = "/srv/authority.pem";
    Options.ApplyTo(Form);
    EXPECT_EQ(Form.SettingsFile(), "/srv/other.ini");
    EXPECT_EQ(Form.CaFile, "/srv/authority.pem");
}

// The authority file is loaded when the options are read: a wrong one stops the start instead of failing
// every https request of the run.
TEST(ProgramOptions, CertificateAuthorityFileMustLoad) {
    const std::string Authority = TestCertificates::Get().CaFile;
    const TParsedOptions Good = Parse({"--ca-file", Authority});
    ASSERT_EQ(Good.Outcome, TOptionsOutcome::Run) << Good.Text;
    EXPECT_EQ(Good.Options.CaFile, Authority);

    TempFolder Folder;
    const std::string NotPem = Folder.WriteFile("key.txt", "not a certificate\n");
    const std::string Missing = Folder.Path() + "/missing.pem";
    for (const std::string& File : {NotPem, Missing}) {
        const TParsedOptions Bad = Parse({"--ca-file=" + File});
        EXPECT_EQ(Bad.Outcome, TOptionsOutcome::Bad);
        const std::string Start =
            "option '--ca-file' needs a PEM file of certificate authorities, not '" + File + "' (";
        EXPECT_EQ(Bad.Text.rfind(Start, 0), 0u) << Bad.Text;
        EXPECT_EQ(Bad.Text.back(), ')') << Bad.Text;
    }
    EXPECT_EQ(Parse({"--ca-file", ""}).Text, "option '--ca-file' needs a file name");
}

} // namespace
