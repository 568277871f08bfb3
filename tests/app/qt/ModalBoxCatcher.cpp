#include "tests/app/qt/ModalBoxCatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QWindow>

namespace quelvar::test {

ModalBoxCatcher::ModalBoxCatcher(QWidget* watchedWindow) : m_watched(watchedWindow) {
    m_timer.setInterval(5);
    connect(&m_timer, &QTimer::timeout, this, &ModalBoxCatcher::poll);
    m_timer.start();
}

void ModalBoxCatcher::poll() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible() || box->buttons().isEmpty()) {
        return;
    }
    CaughtBox caught;
    caught.title = box->windowTitle();
    caught.text = box->text();
    caught.icon = box->icon();
    caught.buttons = box->standardButtons();
    caught.buttonCount = box->buttons().size();
    caught.windowVisible =
        m_watched && m_watched->windowHandle() && m_watched->windowHandle()->isVisible();
    m_boxes.append(caught);
    box->buttons().first()->click();
}

}  // namespace quelvar::test
