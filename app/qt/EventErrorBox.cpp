#include "app/qt/EventErrorBox.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>

namespace quelvar {

QString EventErrorBox::applicationTitle(const QString& executablePath) {
    QString name = QFileInfo(executablePath).fileName();
    const qsizetype dot = name.indexOf(u'.');
    if (dot >= 0) {
        name.truncate(dot);
    }
    if (name.size() > 1) {
        name = name.left(1) + name.mid(1).toLower();
    }
    return name;
}

QString EventErrorBox::applicationTitle() {
    return applicationTitle(QCoreApplication::applicationFilePath());
}

QString EventErrorBox::boxText(const QString& message) {
    if (!message.isEmpty() && message.back() > QChar(u'.')) {
        return message + u'.';
    }
    return message;
}

void EventErrorBox::show(const QString& message) {
    QMessageBox box(QMessageBox::Critical, applicationTitle(), boxText(message), QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

}  // namespace quelvar
