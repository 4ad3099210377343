#include "gui/TMemoWidget.h"

#include "gui/TextBridge.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

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
    return ToSjis(document()->findBlockByNumber(Index).text());
}

void TMemoWidget::SetLine(int Index, const std::string& Value) {
    if (!HasLine(Index)) return;
    const QTextBlock Block = document()->findBlockByNumber(Index);
    QTextCursor Cursor(Block);
    Cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    Cursor.insertText(FromSjis(Value));
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
    Text += FromSjis(Value);
    // An empty entry at the end needs a line break after it to count.
    if (Value.empty()) Text += QLatin1Char('\n');
    Cursor.insertText(Text);
}

void TMemoWidget::Clear() {
    clear();
}
