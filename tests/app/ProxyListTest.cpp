// The preparation a run makes before its first visit: Max check, shuffle, promotion, de-duplication.
#include "app/ProxyList.h"
#include "app/MemoryControls.h"
#include "framework/Random.h"

#include "AppFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

const std::string Ok = SuccessMark;   // "(○)"
const std::string Was = FallbackMark; // "(△)"
const std::string Bad = FailureMark;  // "(×)"

TEST(ProxyMarks, AreTheShiftJisBytes) {
    EXPECT_EQ(Ok, std::string("\x28\x81\x9B\x29"));
    EXPECT_EQ(Was, std::string("\x28\x81\xA2\x29"));
    EXPECT_EQ(Bad, std::string("\x28\x81\x7E\x29"));
}

struct MaxCase {
    std::string Typed;
    std::string After;
};

class MaxCheck : public ::testing::TestWithParam<MaxCase> {};

TEST_P(MaxCheck, KeepsANonNegativeIntegerAsTypedAndReplacesAnythingElse) {
    TMemoryEdit Edit2(GetParam().Typed);
    CheckMax(Edit2);
    EXPECT_EQ(Edit2.Text(), GetParam().After);
}

INSTANTIATE_TEST_SUITE_P(Texts, MaxCheck,
                         ::testing::Values(MaxCase{"100", "100"}, MaxCase{"0", "0"},
                                           // Trimmed for the test only: the blanks stay.
                                           MaxCase{" 7 ", " 7 "}, MaxCase{"\t3\r", "\t3\r"},
                                           MaxCase{"$10", "$10"}, MaxCase{"-1", "20"}, MaxCase{"", "20"},
                                           MaxCase{"   ", "20"}, MaxCase{"abc", "20"}, MaxCase{"7x", "20"},
                                           MaxCase{"99999999999", "20"},
                                           // Hexadecimal from 0x80000000 up reads negative.
                                           MaxCase{"$80000000", "20"}));

class Shuffle : public ::testing::Test {
protected:
    Shuffle() { ResetRandomGenerator(); }
};

TEST_F(Shuffle, OfNoLinesDrawsNothing) {
    TMemoryMemo Memo;
    ShuffleLines(Memo);
    EXPECT_EQ(Memo.LineCount(), 0);
    EXPECT_EQ(Rand(), ReferenceDraws(1)[0]);
}

TEST_F(Shuffle, OfOneLineDrawsSixTimesAndKeepsTheLine) {
    TMemoryMemo Memo({"10.1.1.1:8080"});
    ShuffleLines(Memo);
    EXPECT_EQ(Memo.Lines(), Lines{"10.1.1.1:8080"});
    EXPECT_EQ(Rand(), ReferenceDraws(7)[6]);
}

// The draws 130, 10982, 1090, 11656, ... taken mod 5 as (a, b) pairs give the exchanges (0,2) (0,1)
// (2,0) (0,3) (1,4) (3,1) (4,2) (0,2) (1,3) (2,4) (1,0) (0,4) (4,2) (1,4) (1,1).
TEST_F(Shuffle, OfFiveLinesMakesFifteenExchangesDrawingAThenB) {
    TMemoryMemo Memo({"A", "B", "C", "D", "E"});
    ShuffleLines(Memo);
    EXPECT_EQ(Memo.Lines(), (Lines{"D", "B", "E", "A", "C"}));
    EXPECT_EQ(Rand(), ReferenceDraws(31)[30]);
}

struct ListCase {
    Lines Before;
    Lines After;
};

class Promotion : public ::testing::TestWithParam<ListCase> {};

TEST_P(Promotion, MovesLinesWithTheSuccessCharacterToTheTop) {
    TMemoryMemo Memo(GetParam().Before);
    PromoteSuccesses(Memo);
    EXPECT_EQ(Memo.Lines(), GetParam().After);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, Promotion,
    ::testing::Values(
        ListCase{{}, {}}, ListCase{{"a:1", "b:2" + Bad, "c:3" + Was}, {"a:1", "b:2" + Bad, "c:3" + Was}},
        ListCase{{"a:1" + Ok, "b:2" + Ok}, {"a:1" + Ok, "b:2" + Ok}},
        // An unmarked line that is exchanged moves down to where the marked line was.
        ListCase{{"a:1", "b:2" + Ok, "c:3", "d:4" + Ok}, {"b:2" + Ok, "d:4" + Ok, "c:3", "a:1"}},
        ListCase{{"a:1" + Bad, "b:2" + Was, "c:3" + Ok}, {"c:3" + Ok, "b:2" + Was, "a:1" + Bad}},
        // The bare character counts wherever it stands; "△" does not.
        ListCase{{"a:1", "note \x81\x9B here"}, {"note \x81\x9B here", "a:1"}}));

class Deduplication : public ::testing::TestWithParam<ListCase> {};

TEST_P(Deduplication, KeepsTheTopMostLineOfEachKey) {
    TMemoryMemo Memo(GetParam().Before);
    RemoveRepeatedProxies(Memo);
    EXPECT_EQ(Memo.Lines(), GetParam().After);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, Deduplication,
    ::testing::Values(ListCase{{"a:1" + Bad, "a:1" + Ok, "a:1"}, {"a:1" + Bad}},
                      // Repeats right after each other: each deletion moves the next one up to be tested.
                      ListCase{{"a:1", "a:1", "a:1", "b:2", "a:1" + Was, "b:2"}, {"a:1", "b:2"}},
                      // Keys are compared byte for byte, untrimmed and case-sensitive.
                      ListCase{{"10.1.1.1:8080", " 10.1.1.1:8080"}, {"10.1.1.1:8080", " 10.1.1.1:8080"}},
                      ListCase{{"Proxy:1", "proxy:1"}, {"Proxy:1", "proxy:1"}},
                      ListCase{{"a:1 (x)", "a:1 ", "a:1"}, {"a:1 (x)", "a:1"}},
                      ListCase{{"", "a:1", ""}, {"", "a:1"}}, ListCase{{"(", ""}, {"("}}));

// Promotion then de-duplication, as the run makes them: whatever the order, the line with the success
// mark is the one that stays.
TEST(Preparation, KeepsTheSucceededLineOfARepeatedProxyInEveryOrder) {
    Lines Order = {"10.1.1.1:8080" + Bad, "10.1.1.1:8080" + Ok, "10.1.1.1:8080"};
    std::sort(Order.begin(), Order.end());
    do {
        TMemoryMemo Memo(Order);
        PromoteSuccesses(Memo);
        RemoveRepeatedProxies(Memo);
        EXPECT_EQ(Memo.Lines(), Lines{"10.1.1.1:8080" + Ok});
    } while (std::next_permutation(Order.begin(), Order.end()));
}

} // namespace
