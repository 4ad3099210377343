// The widgets behind the control interfaces: the line model of the text boxes, and the Shift-JIS bytes
// of the logic against the Unicode the user sees.
#include "gui/TEditWidget.h"
#include "gui/TMemoWidget.h"
#include "gui/TStatusBarWidget.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

Lines LinesOf(const TMemo& Memo) {
    Lines Result;
    for (int I = 0; I < Memo.LineCount(); ++I) Result.push_back(Memo.Line(I));
    return Result;
}

struct MemoCase {
    const char* Name;
    const char* Text; // what the box holds before the operation, as typed
    std::function<void(TMemo&)> Operation;
    Lines Expected;
};

void PrintTo(const MemoCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

class MemoLines : public ::testing::TestWithParam<MemoCase> {};

TEST_P(MemoLines, ReadAndChangeLinesAsAList) {
    const MemoCase& Case = GetParam();
    TMemoWidget Memo;
    Memo.setPlainText(QString::fromUtf8(Case.Text));
    if (Case.Operation) Case.Operation(Memo);
    EXPECT_EQ(LinesOf(Memo), Case.Expected);
    // All lines at once are the same lines.
    EXPECT_EQ(Memo.Lines(), Case.Expected);
    // Reading past the end gives nothing rather than a line of the text.
    EXPECT_EQ(Memo.Line(Memo.LineCount()), "");
}

const MemoCase MemoCases[] = {
    // How a text is seen as lines: a last empty text line is no entry.
    {"Empty", "", nullptr, {}},
    {"OneLine", "a", nullptr, {"a"}},
    {"LineBreakAtTheEnd", "a\n", nullptr, {"a"}},
    {"EmptyLineBeforeTheEnd", "a\n\n", nullptr, {"a", ""}},
    {"OnlyALineBreak", "\n", nullptr, {""}},
    {"EmptyLinesFirst", "\n\nb", nullptr, {"", "", "b"}},
    {"BlanksAreText", " \t", nullptr, {" \t"}},
    // Appending: a new line of its own, also after a text without a last line break, and an empty
    // entry that still counts.
    {"AppendToEmpty", "", [](TMemo& M) { M.AppendLine("x"); }, {"x"}},
    {"AppendEmptyToEmpty", "", [](TMemo& M) { M.AppendLine(""); }, {""}},
    {"AppendAfterLastLine", "a", [](TMemo& M) { M.AppendLine("x"); }, {"a", "x"}},
    {"AppendAfterLineBreak", "a\n", [](TMemo& M) { M.AppendLine("x"); }, {"a", "x"}},
    {"AppendEmptyThenText",
     "a",
     [](TMemo& M) {
         M.AppendLine("");
         M.AppendLine("");
         M.AppendLine("b");
     },
     {"a", "", "", "b"}},
    // Replacing.
    {"SetFirst", "a\nb", [](TMemo& M) { M.SetLine(0, "z"); }, {"z", "b"}},
    {"SetLastEmptyKeepsTheEntry", "a\nb", [](TMemo& M) { M.SetLine(1, ""); }, {"a", ""}},
    {"SetMiddleEmpty", "a\nb\nc", [](TMemo& M) { M.SetLine(1, ""); }, {"a", "", "c"}},
    {"SetLongerThanAPage",
     "a",
     [](TMemo& M) { M.SetLine(0, std::string(5000, 'p')); },
     {std::string(5000, 'p')}},
    // Deleting: the next line moves up; the last line goes without taking an empty entry above it.
    {"DeleteFirst", "a\nb", [](TMemo& M) { M.DeleteLine(0); }, {"b"}},
    {"DeleteLast", "a\nb", [](TMemo& M) { M.DeleteLine(1); }, {"a"}},
    {"DeleteLastBelowEmpty", "a\n\nb", [](TMemo& M) { M.DeleteLine(2); }, {"a", ""}},
    {"DeleteEmptyMiddle", "a\n\nb", [](TMemo& M) { M.DeleteLine(1); }, {"a", "b"}},
    {"DeleteBeforeLineBreakAtEnd", "a\nb\n", [](TMemo& M) { M.DeleteLine(1); }, {"a"}},
    {"DeleteOnly", "a", [](TMemo& M) { M.DeleteLine(0); }, {}},
    {"DeleteWhileDeduplicating",
     "k\nk\nk\nm",
     [](TMemo& M) {
         M.DeleteLine(1);
         M.DeleteLine(1);
     },
     {"k", "m"}},
    // Indexes outside the list change nothing.
    {"OutsideChangesNothing",
     "a\n",
     [](TMemo& M) {
         M.SetLine(1, "z");
         M.SetLine(-1, "z");
         M.DeleteLine(1);
         M.DeleteLine(-1);
     },
     {"a"}},
    {"Clear", "a\nb\n", [](TMemo& M) { M.Clear(); }, {}},
    // All lines replaced at once, empty entries at any place included.
    {"SetLinesReplacesAll",
     "a\nb\n",
     [](TMemo& M) {
         M.SetLines({"x", "", "y"});
     },
     {"x", "", "y"}},
    {"SetLinesEndingEmpty",
     "a",
     [](TMemo& M) {
         M.SetLines({"x", ""});
     },
     {"x", ""}},
    {"SetLinesOneEmpty", "a", [](TMemo& M) { M.SetLines({""}); }, {""}},
    {"SetNoLines", "a\nb", [](TMemo& M) { M.SetLines({}); }, {}},
    {"SetLinesThenAppend",
     "",
     [](TMemo& M) {
         M.SetLines({"x", ""});
         M.AppendLine("y");
     },
     {"x", "", "y"}},
    // A carriage return is a character of its line, whichever way the line comes in.
    {"CarriageReturnsStayInTheirLines",
     "",
     [](TMemo& M) {
         M.SetLines({"a\rb", "\r", "c\r", "\rd", "e"});
         M.AppendLine("f\r\rg");
         M.SetLine(4, "\r\r");
     },
     {"a\rb", "\r", "c\r", "\rd", "\r\r", "f\r\rg"}},
};

INSTANTIATE_TEST_SUITE_P(Operations, MemoLines, ::testing::ValuesIn(MemoCases),
                         [](const ::testing::TestParamInfo<MemoCase>& Info) { return Info.param.Name; });

// Texts in the logic's code page, as the user sees them.
struct TextCase {
    std::string Sjis;
    const char* Shown; // UTF-8
};

const TextCase TextCases[] = {
    {"10.0.0.1:8080(\x81\x9B)", "10.0.0.1:8080(\u25CB)"},
    {"10.0.0.1:8080(\x81\xA2)", "10.0.0.1:8080(\u25B3)"},
    {"10.0.0.1:8080(\x81\x7E)", "10.0.0.1:8080(\u00D7)"},
    {"\x83\x76\x83\x8D\x83\x4C\x83\x56", "\u30D7\u30ED\u30AD\u30B7"},
};

TEST(ControlTexts, ShiftJisBytesShowAsTheirCharactersAndReadBack) {
    for (const TextCase& Case : TextCases) {
        SCOPED_TRACE(Case.Shown);
        const QString Shown = QString::fromUtf8(Case.Shown);

        TMemoWidget Memo;
        Memo.AppendLine(Case.Sjis);
        Memo.AppendLine("next");
        EXPECT_EQ(Memo.toPlainText(), Shown + QStringLiteral("\nnext"));
        EXPECT_EQ(Memo.Line(0), Case.Sjis);
        Memo.SetLine(1, Case.Sjis);
        EXPECT_EQ(Memo.toPlainText(), Shown + QStringLiteral("\n") + Shown);

        TEditWidget Edit;
        Edit.SetText(Case.Sjis);
        EXPECT_EQ(Edit.text(), Shown);
        Edit.setText(Shown); // as the user types it
        EXPECT_EQ(Edit.Text(), Case.Sjis);

        TStatusBarWidget Status;
        Status.SetSimpleText(Case.Sjis);
        EXPECT_EQ(Status.currentMessage(), Shown);
        EXPECT_EQ(Status.SimpleText(), Case.Sjis);
    }
}

// A carriage return inside a line shows as the symbol for one, and only that symbol reads back as one.
TEST(ControlTexts, CarriageReturnShowsAsItsSymbol) {
    TMemoWidget Memo;
    Memo.AppendLine("a\rb");
    EXPECT_EQ(Memo.toPlainText(), QString::fromUtf8("a\u240Db"));
    EXPECT_EQ(Memo.LineCount(), 1);
    Memo.setPlainText(QString::fromUtf8("c\u240D\nd"));
    EXPECT_EQ(Memo.Lines(), (Lines{"c\r", "d"}));
}

// What the code page cannot hold reaches the logic as "?", not as lost or cut text.
TEST(ControlTexts, CharactersOutsideTheCodePageReadAsQuestionMarks) {
    TEditWidget Edit;
    Edit.setText(QString::fromUtf8("a\U0001F600b"));
    EXPECT_EQ(Edit.Text(), "a?b");
}

} // namespace
