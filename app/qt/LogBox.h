#pragma once

#include <QPlainTextEdit>
#include <QString>

namespace quelvar {

// A tab's log box: read-only, wrapping at its width, without scroll bars, selectable and
// copyable. It keeps its text exactly as appended, with CR LF after every line.
class LogBox : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit LogBox(QWidget* parent = nullptr);

    // Returns the box's text, CR LF line ends included.
    const QString& text() const { return m_text; }
    // Empties the box.
    void clearText();
    // Appends the line's text followed by CR LF.
    void appendLine(const QString& line);

private:
    QString m_text;
};

}  // namespace quelvar
