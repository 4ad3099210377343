#include "gui/TMemoWidget.h"

#include "gui/TextBridge.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace {

// U+240D SYMBOL FOR CARRIAGE RETURN: no Shift-JIS text holds it, so it stands for the byte unambiguously.
constexpr char16_t CarriageReturnSymbol = u'\u240D';

// A line (or lines joined by LF) of the logic, as the box shows it.
QString Shown(const std::string& Sjis) {
    QString Text = FromSjis(Sjis);
    Text.replace(QLatin1Char('\r'), QChar(CarriageReturnSymbol));
    return Text;
}

std::string Read(QString Text) {
    Text.replace(QChar(CarriageReturnSymbol), QLatin1Char('\r'));
    return ToSjis(Text);
}

} // namespace

TMemoWidget::TMemoWidget(QWidget* Parent) : QPlainTextEdit(Parent) {
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Tab moves on to the next control, as in the rest of the window, instead of typing a tab.
    setTabChangesFocus(true);
}

int TMemoWidget::LineCount() const {
    const QTextDocument* Document = document();
    return Document->blockCount() - (Document->lastBlock().text().isEmpty() ? 1 : 0);
}

std::string TMemoWidget::Line(int Index) const {
    if (!HasLine(Index)) return {};
    return Read(document()->findBlockByNumber(Index).text());
}

void TMemoWidget::SetLine(int Index, const std::string& Value) {
    if (!HasLine(Index)) return;
    const QTextBlock Block = document()->findBlockByNumber(Index);
    QTextCursor Cursor(Block);
    Cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    Cursor.insertText(Shown(Value));
    // An emptied last text line would stop counting as an entry; a line break after it keeps it.
    if (Value.empty() && !Block.next().isValid()) Cursor.insertText(QStringLiteral("\n"));
}

void TMemoWidget::DeleteLine(int Index) {
    if (!HasLine(Index)) return;
    const QTextBlock Block = document()->findBlockByNumber(Index);
    QTextCursor Cursor(Block);
    if (Block.next().isValid()) {
        // The line with its line break, so the next line moves up.
        Cursor.setPosition(Block.next().position(), QTextCursor::KeepAnchor);
    } else {
        // The last text line: emptied, it is no entry any more, and the line break before it keeps an
        // empty entry above it intact.
        Cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    }
    Cursor.removeSelectedText();
}

void TMemoWidget::AppendLine(const std::string& Value) {
    QTextCursor Cursor(document());
    Cursor.movePosition(QTextCursor::End);
    QString Text;
    // A last text line with content is an entry already: the new one starts on a line of its own.
    if (!document()->lastBlock().text().isEmpty()) Text += QLatin1Char('\n');
    Text += Shown(Value);
    // An empty entry at the end needs a line break after it to count.
    if (Value.empty()) Text += QLatin1Char('\n');
    Cursor.insertText(Text);
}

void TMemoWidget::Clear() {
    clear();
}

std::vector<std::string> TMemoWidget::Lines() const {
    // The whole text converted at once, its blocks joined by LF. The raw text keeps every character as the
    // blocks hold it (the plain text would turn a no-break space into a blank).
    QString Raw = document()->toRawText();
    Raw.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    const std::string Text = Read(Raw);
    std::vector<std::string> Result;
    Result.reserve(static_cast<size_t>(document()->blockCount()));
    size_t Start = 0;
    for (size_t End = Text.find('\n'); End != std::string::npos; End = Text.find('\n', Start)) {
        Result.push_back(Text.substr(Start, End - Start));
        Start = End + 1;
    }
    // The last text line is an entry only when it holds something.
    if (Start < Text.size()) Result.push_back(Text.substr(Start));
    return Result;
}

void TMemoWidget::SetLines(std::vector<std::string> Lines) {
    std::string Text;
    size_t Size = 0;
    for (const std::string& Line : Lines) Size += Line.size() + 1;
    Text.reserve(Size);
    for (size_t I = 0; I < Lines.size(); ++I) {
        if (I > 0) Text += '\n';
        Text += Lines[I];
    }
    // An empty entry at the end needs a line break after it to count.
    if (!Lines.empty() && Lines.back().empty()) Text += '\n';
    setPlainText(Shown(Text));
}
