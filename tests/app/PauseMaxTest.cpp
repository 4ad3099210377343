// The bound of the pause between two proxies: the pause is the same draw as the window's, taken modulo
// the bound, and a bound of 0 (or below) still takes the draw, so later draws stay the window's.
#include "AppFixtures.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

struct PauseMaxCase {
    const char* Name;
    int PauseMax;
};

class PauseBound : public FormFixture, public ::testing::WithParamInterface<PauseMaxCase> {};

TEST_P(PauseBound, TakesTheWindowsDrawModuloTheBound) {
    const int Bound = GetParam().PauseMax;
    Memo1.SetLines({"a:1", "b:2", "c:3"}); // 18 shuffle draws; the scripted visits draw nothing
    Form.Visit = [](TScriptedForm&, const std::string&, int32_t) { return 0; };
    Form.PauseMax = Bound;
    Form.Button1Click(&Form);

    const std::vector<int> Draws = ReferenceDraws(22);
    Lines Expected;
    for (int I = 18; I < 21; ++I)
        Expected.push_back("pause " + std::to_string(Bound > 0 ? Draws[I] % Bound : 0));
    Lines Pauses;
    for (const std::string& Entry : Log)
        if (Entry.rfind("pause ", 0) == 0) Pauses.push_back(Entry);
    EXPECT_EQ(Pauses, Expected);
    EXPECT_EQ(Count("save"), 3);
    EXPECT_EQ(Rand(), Draws[21]);
}

INSTANTIATE_TEST_SUITE_P(Bounds, PauseBound,
                         ::testing::Values(PauseMaxCase{"Window", 15000}, PauseMaxCase{"Small", 7},
                                           PauseMaxCase{"Zero", 0}, PauseMaxCase{"Negative", -5}),
                         [](const ::testing::TestParamInfo<PauseMaxCase>& Info) {
                             return std::string(Info.param.Name);
                         });

} // namespace
