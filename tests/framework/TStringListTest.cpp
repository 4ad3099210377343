#include "framework/Exceptions.h"
#include "framework/TStringList.h"

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
