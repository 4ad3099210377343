#include "framework/TStringList.h"
#include "framework/Exceptions.h"

#include <gtest/gtest.h>

TEST(TStringList, EditsByIndexAndJoinsWithCrLf) {
    TStringList L;
    L.Add("b");
    L.Add("c");
    L.Insert(0, "a");
    L.Put(2, "C");
    EXPECT_EQ(L.Text(), "a\r\nb\r\nC\r\n");
    L.Delete(1);
    EXPECT_EQ(L.Count(), 2);
    EXPECT_EQ(L.Get(1), "C");
    EXPECT_THROW(L.Get(2), EListError);
    EXPECT_THROW(L.Delete(-1), EListError);
    L.Clear();
    EXPECT_EQ(L.Text(), "");
}

TEST(TStringList, SortedModeKeepsCaseInsensitiveOrderAndRefusesReplacement) {
    TStringList L;
    L.Add("beta");
    L.Add("Alpha");
    L.SetSorted(true);
    L.Add("ALPHA2");
    L.Add("Gamma");
    L.Add("alpha");
    EXPECT_EQ(L.Text(), "Alpha\r\nalpha\r\nALPHA2\r\nbeta\r\nGamma\r\n");
    try {
        L.Put(0, "x");
        FAIL() << "no exception";
    } catch (const EListError& E) {
        EXPECT_EQ(E.Message, FrameworkTexts::SortedListError);
    }
    EXPECT_THROW(L.Insert(0, "x"), EListError);
}

TEST(TStringList, SortedOrderAndIndexOfCompareWholeCharacters) {
    // Katakana A, DI (second byte 'a'), half-width A, a symbol between the capitals and the small
    // letters, a digit and letters of both cases.
    const std::string KatakanaA = "\x83\x41";
    const std::string KatakanaDi = "\x83\x61";
    TStringList L;
    for (const std::string& Text : {KatakanaDi, std::string("b"), std::string("\xB1"), std::string("_x"),
                                    KatakanaA, std::string("B"), std::string("7"), std::string("a")})
        L.Add(Text);
    L.SetSorted(true);
    EXPECT_EQ(L.Text(), "_x\r\n7\r\na\r\nb\r\nB\r\n\xB1\r\n" + KatakanaA + "\r\n" + KatakanaDi + "\r\n");
    L.Add("\x83\x40");
    EXPECT_EQ(L.IndexOf("\x83\x40"), 6);
    EXPECT_EQ(L.IndexOf(KatakanaA), 7);
    EXPECT_EQ(L.IndexOf(KatakanaDi), 8);
    EXPECT_EQ(L.IndexOf("A"), 2);
    EXPECT_EQ(L.IndexOf("\x83"), -1);
}
