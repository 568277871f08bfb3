#include "app/qt/WindowCheckTab.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

#include "app/qt/LogBox.h"

namespace quelvar {

std::string QtTabCalls::text(const QLineEdit* field) {
    return field->text().toUtf8().toStdString();
}

bool QtTabCalls::checked(const QCheckBox* box) {
    return box->isChecked();
}

void QtTabCalls::clear(LogBox* log) {
    log->clearText();
}

void QtTabCalls::append(LogBox* log, const std::string& line) {
    log->appendLine(QString::fromStdString(line));
}

void QtTabCalls::show(QLabel* indicator, bool visible) {
    indicator->setVisible(visible);
}

}  // namespace quelvar
