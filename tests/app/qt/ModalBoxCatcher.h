#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

namespace quelvar::test {

// What a caught message box showed.
struct CaughtBox {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    qsizetype buttonCount = 0;
    // Whether the watched window was on screen while the box was open.
    bool windowVisible = false;
};

// Watches for modal message boxes while it lives: records each one and closes it with its
// first button, as a person reading it would.
class ModalBoxCatcher : public QObject {
    Q_OBJECT

public:
    explicit ModalBoxCatcher(QWidget* watchedWindow = nullptr);

    const QList<CaughtBox>& boxes() const { return m_boxes; }

private:
    void poll();

    QPointer<QWidget> m_watched;
    QTimer m_timer;
    QList<CaughtBox> m_boxes;
};

}  // namespace quelvar::test
