#include "app/qt/LogBox.h"

#include <QTextCursor>

namespace quelvar {

namespace {

const QString kLineEnd = QStringLiteral("\r\n");

}  // namespace

LogBox::LogBox(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setFocusPolicy(Qt::StrongFocus);
    setTabChangesFocus(true);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setUndoRedoEnabled(false);
}

void LogBox::clearText() {
    m_text.clear();
    clear();
}

void LogBox::appendLine(const QString& line) {
    m_text += line;
    m_text += kLineEnd;
    // The document breaks the paragraph at CR LF; a cursor of its own leaves the user's
    // selection and the view where they are.
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(line + kLineEnd);
}

}  // namespace quelvar
