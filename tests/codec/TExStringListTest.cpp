#include "codec/TExStringList.h"

#include "framework/Exceptions.h"
#include "framework/TextHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

TExStringList ListOf(const std::vector<std::string>& Lines, bool Sorted = false) {
    TExStringList List;
    for (const auto& Line : Lines) List.Add(Line);
    List.SetSorted(Sorted);
    return List;
}

std::vector<std::string> LinesOf(const TExStringList& List) {
    std::vector<std::string> Lines;
    for (int I = 0; I < List.Count(); ++I) Lines.push_back(List.Get(I));
    return Lines;
}

} // namespace

TEST(TExStringList, IndexOfNameMatchesTheTextBeforeTheFirstColonIgnoringCase) {
    const TExStringList List =
        ListOf({"Host: a", "Accept: x", "X-Data", ": v", "Host :x", "Cookie: a=b: c", "Accept: second"});
    const std::vector<std::pair<std::string, int>> Cases = {
        {"host", 0}, {"HOST", 0},  {"Accept", 1}, {"Acc", -1},         {"Accept: x", -1}, {"X-Data", -1},
        {"", 3},     {"Host ", 4}, {"cookie", 5}, {"Cookie: a=b", -1}, {"Referer", -1},
    };
    for (const auto& [Name, Index] : Cases) EXPECT_EQ(List.IndexOfName(Name), Index) << Name;
    EXPECT_EQ(TExStringList().IndexOfName(""), -1);
}

TEST(TExStringList, IndexOfNameOnASortedListFindsEveryNameByHalving) {
    const std::vector<std::string> Names = {"Accept", "Cookie",  "From",      "Host",
                                            "Pragma", "Referer", "User-Agent"};
    for (size_t Size = 0; Size <= Names.size(); ++Size) {
        std::vector<std::string> Lines;
        for (size_t I = Size; I-- > 0;) Lines.push_back(Names[I] + ": v" + std::to_string(I));
        const TExStringList List = ListOf(Lines, true);
        for (size_t I = 0; I < Size; ++I) {
            EXPECT_EQ(List.IndexOfName(Names[I]), static_cast<int>(I)) << Size << " " << Names[I];
            EXPECT_EQ(List.IndexOfName(LowerCase(Names[I])), static_cast<int>(I));
        }
        // Before the first, between each pair and after the last.
        for (const char* Absent : {"A", "Authorization", "Date", "Location", "Range", "Server", "Zzz"})
            EXPECT_EQ(List.IndexOfName(Absent), -1) << Size << " " << Absent;
    }
}

TEST(TExStringList, GetValueIsTheRestOfTheLineLessOneLeadingSpace) {
    const TExStringList List = ListOf({"Content-Type:text/html", "X-Two:  x", "Host: a:80",
                                       "Empty:", "Blank: ", "Tab:\tv ", "HOST: second"});
    const std::vector<std::pair<std::string, std::string>> Cases = {
        {"content-type", "text/html"},
        {"x-two", " x"},
        {"Host", "a:80"},
        {"Empty", ""},
        {"Blank", ""},
        {"Tab", "\tv "},
        {"Missing", ""},
    };
    for (const auto& [Name, Value] : Cases) EXPECT_EQ(List.GetValue(Name), Value) << Name;
}

TEST(TExStringList, SetValueReplacesInPlaceAppendsOrDeletesTheFirstMatch) {
    TExStringList List;
    List.SetValue("Referer", "/a/b");
    EXPECT_EQ(LinesOf(List), (std::vector<std::string>{"Referer: /a/b"}));
    List.Add("Accept: */*");
    List.SetValue("referer", "/c");
    EXPECT_EQ(LinesOf(List), (std::vector<std::string>{"referer: /c", "Accept: */*"}));
    List.SetValue("Host", "b");
    EXPECT_EQ(LinesOf(List), (std::vector<std::string>{"referer: /c", "Accept: */*", "Host: b"}));

    TExStringList Hosts = ListOf({"host: a", "Accept: x", "Host: c"});
    Hosts.SetValue("HOST", "b");
    EXPECT_EQ(LinesOf(Hosts), (std::vector<std::string>{"HOST: b", "Accept: x", "Host: c"}));
    Hosts.SetValue("Host", "");
    EXPECT_EQ(LinesOf(Hosts), (std::vector<std::string>{"Accept: x", "Host: c"}));
    Hosts.SetValue("Cookie", "");
    EXPECT_EQ(LinesOf(Hosts), (std::vector<std::string>{"Accept: x", "Host: c"}));
}

TEST(TExStringList, SetValueOnASortedListRaisesAndLeavesTheListAsItWas) {
    TExStringList List = ListOf({"Host: a", "Accept: x"}, true);
    const std::vector<std::string> Before = LinesOf(List);
    for (const char* Name : {"Host", "Referer"}) {
        try {
            List.SetValue(Name, "v");
            ADD_FAILURE() << Name << ": no exception";
        } catch (const EListError& E) {
            EXPECT_EQ(E.Message, FrameworkTexts::SortedListError);
        }
        EXPECT_EQ(LinesOf(List), Before) << Name;
    }
    // Deleting needs no replacement, so it works on a sorted list too.
    List.SetValue("host", "");
    EXPECT_EQ(LinesOf(List), (std::vector<std::string>{"Accept: x"}));
}

// Names in Shift-JIS: katakana A (0x83 0x41) and DI (0x83 0x61) differ only in a second byte that reads
// as 'A' and 'a'; each name reaches its own line, in either mode and whichever line comes first.
TEST(TExStringList, NamesCompareAsCharactersNotAsBytes) {
    const std::string A = "\x83\x41";
    const std::string Di = "\x83\x61";
    for (const bool Sorted : {false, true}) {
        for (const auto& Lines : {std::vector<std::string>{A + ": a", Di + ": di", "X-Tail: t"},
                                  std::vector<std::string>{Di + ": di", A + ": a", "X-Tail: t"}}) {
            SCOPED_TRACE(std::string(Sorted ? "sorted, " : "unsorted, ") + "first line " + Lines[0]);
            TExStringList List = ListOf(Lines, Sorted);
            const std::vector<std::string> Now = LinesOf(List);
            const auto IndexOf = [&](const std::string& Line) {
                return static_cast<int>(std::find(Now.begin(), Now.end(), Line) - Now.begin());
            };
            EXPECT_EQ(List.IndexOfName(A), IndexOf(A + ": a"));
            EXPECT_EQ(List.IndexOfName(Di), IndexOf(Di + ": di"));
            EXPECT_EQ(List.GetValue(A), "a");
            EXPECT_EQ(List.GetValue(Di), "di");
            EXPECT_EQ(List.IndexOfName("\x83\x42"), -1);
            if (Sorted) continue;
            List.SetValue(Di, "new");
            List.SetValue(A, "");
            EXPECT_EQ(LinesOf(List), (std::vector<std::string>{Di + ": new", "X-Tail: t"}));
        }
    }
}
