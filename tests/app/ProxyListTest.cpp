// The preparation a run makes before its first visit: Max check, shuffle, promotion, de-duplication.
#include "app/ProxyList.h"
#include "app/MemoryControls.h"
#include "framework/Random.h"

#include "AppFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
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
    Lines Memo;
    ShuffleLines(Memo);
    EXPECT_TRUE(Memo.empty());
    EXPECT_EQ(Rand(), ReferenceDraws(1)[0]);
}

TEST_F(Shuffle, OfOneLineDrawsSixTimesAndKeepsTheLine) {
    Lines Memo{"10.1.1.1:8080"};
    ShuffleLines(Memo);
    EXPECT_EQ(Memo, Lines{"10.1.1.1:8080"});
    EXPECT_EQ(Rand(), ReferenceDraws(7)[6]);
}

// The draws 130, 10982, 1090, 11656, ... taken mod 5 as (a, b) pairs give the exchanges (0,2) (0,1)
// (2,0) (0,3) (1,4) (3,1) (4,2) (0,2) (1,3) (2,4) (1,0) (0,4) (4,2) (1,4) (1,1).
TEST_F(Shuffle, OfFiveLinesMakesFifteenExchangesDrawingAThenB) {
    Lines Memo{"A", "B", "C", "D", "E"};
    ShuffleLines(Memo);
    EXPECT_EQ(Memo, (Lines{"D", "B", "E", "A", "C"}));
    EXPECT_EQ(Rand(), ReferenceDraws(31)[30]);
}

struct ListCase {
    Lines Before;
    Lines After;
};

class Promotion : public ::testing::TestWithParam<ListCase> {};

TEST_P(Promotion, MovesLinesWithTheSuccessCharacterToTheTop) {
    Lines Memo = GetParam().Before;
    PromoteSuccesses(Memo);
    EXPECT_EQ(Memo, GetParam().After);
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
    Lines Memo = GetParam().Before;
    RemoveRepeatedProxies(Memo);
    EXPECT_EQ(Memo, GetParam().After);
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
        Lines Memo = Order;
        PromoteSuccesses(Memo);
        RemoveRepeatedProxies(Memo);
        EXPECT_EQ(Memo, Lines{"10.1.1.1:8080" + Ok});
    } while (std::next_permutation(Order.begin(), Order.end()));
}

// The preparation as the list box made it, line by line through the box, reading its line count and
// lines afresh at every test: the reference the preparation on one vector must match, draw for draw.
namespace reference {

void ExchangeLines(TMemo& Memo, int A, int B) {
    if (A == B) return;
    std::string Upper = Memo.Line(A);
    Memo.SetLine(A, Memo.Line(B));
    Memo.SetLine(B, Upper);
}

void ShuffleLines(TMemo& Memo) {
    for (int K = 0; K < 3 * Memo.LineCount(); ++K) {
        int A = Rand() % Memo.LineCount();
        int B = Rand() % Memo.LineCount();
        ExchangeLines(Memo, A, B);
    }
}

void PromoteSuccesses(TMemo& Memo) {
    for (int I = 0; I < Memo.LineCount(); ++I) {
        if (HasSucceededBefore(Memo.Line(I))) continue;
        int J = I + 1;
        while (J < Memo.LineCount() && !HasSucceededBefore(Memo.Line(J))) ++J;
        if (J >= Memo.LineCount()) return;
        ExchangeLines(Memo, I, J);
    }
}

void RemoveRepeatedProxies(TMemo& Memo) {
    for (int I = 0; I < Memo.LineCount(); ++I) {
        const std::string Key = ProxyKey(Memo.Line(I));
        for (int J = I + 1; J < Memo.LineCount();) {
            if (ProxyKey(Memo.Line(J)) == Key)
                Memo.DeleteLine(J);
            else
                ++J;
        }
    }
}

} // namespace reference

// A list as people keep them: proxies from a small pool (so many repeat), with and without marks, the
// bare characters inside other text, a "(" in odd places, empty and blank lines.
Lines RandomList(std::mt19937& Rng, size_t Count, size_t MaxKeys) {
    const size_t Pool = 1 + Rng() % (MaxKeys + 1);
    const char* const Tails[] = {"",          "",    "(\x81\x9B)", "(\x81\xA2)", "(\x81\x7E)",
                                 " \x81\x9B", "(x)", "\x81\xA2 ",  "(",          ":1(\x81\x9B)"};
    Lines List;
    for (size_t I = 0; I < Count; ++I) {
        switch (Rng() % 12) {
        case 0:
            List.push_back("");
            break;
        case 1:
            List.push_back(" \t ");
            break;
        default:
            List.push_back("10.0." + std::to_string(Rng() % Pool) + ".1:" + std::to_string(8000 + Rng() % 3) +
                           Tails[Rng() % std::size(Tails)]);
        }
    }
    return List;
}

void PrepareByReference(TMemo& Memo) {
    reference::ShuffleLines(Memo);
    reference::PromoteSuccesses(Memo);
    reference::RemoveRepeatedProxies(Memo);
}

void Prepare(Lines& List) {
    ShuffleLines(List);
    PromoteSuccesses(List);
    RemoveRepeatedProxies(List);
}

TEST(Preparation, GivesTheLinesAndDrawsOfTheLineByLineStepsForRandomListsAndStates) {
    std::mt19937 Rng(20240611);
    for (int Trial = 0; Trial < 400; ++Trial) {
        // Mostly short lists, where every corner is likely, and a few of 1,000 to 2,000 lines. The reference
        // takes time proportional to the length times the number of distinct proxies, so the long lists
        // repeat a few hundred proxies at most.
        const bool Long = Trial % 80 == 0;
        const size_t Count = Long ? 1000 + Rng() % 1001 : Rng() % 24;
        const Lines List = RandomList(Rng, Count, Long ? Count / 8 : Count);
        const uint32_t State = static_cast<uint32_t>(Rng());

        SetRandomGeneratorState(State);
        TMemoryMemo Memo(List);
        PrepareByReference(Memo);
        const uint32_t ReferenceState = RandomGeneratorState();

        SetRandomGeneratorState(State);
        Lines Prepared = List;
        Prepare(Prepared);

        ASSERT_EQ(Prepared, Memo.Lines()) << "trial " << Trial << ", " << Count << " lines, state " << State;
        ASSERT_EQ(RandomGeneratorState(), ReferenceState) << "trial " << Trial;
    }
}

// The shape where the promotion searches longest: every marked line below every unmarked one, and the
// unmarked ones repeats of a few proxies.
TEST(Preparation, OfALongListWithMarksBelowAndManyRepeatsGivesTheReferenceResult) {
    Lines List;
    for (int I = 0; I < 900; ++I) List.push_back("10.0.0." + std::to_string(I % 7) + ":80");
    for (int I = 0; I < 300; ++I) List.push_back("10.0.1." + std::to_string(I) + ":80" + Ok);
    TMemoryMemo Memo(List);
    reference::PromoteSuccesses(Memo);
    reference::RemoveRepeatedProxies(Memo);
    Lines Prepared = List;
    PromoteSuccesses(Prepared);
    RemoveRepeatedProxies(Prepared);
    EXPECT_EQ(Prepared, Memo.Lines());
    EXPECT_EQ(Prepared.size(), 307u);
}

} // namespace
