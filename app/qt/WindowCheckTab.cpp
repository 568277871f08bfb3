#include "app/qt/WindowCheckTab.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

#include "app/qt/LogBox.h"

namespace quelvar {

std::string WindowCheckTab::fieldText(Half half) {
    const QLineEdit* field = half == Half::External ? m_controls.external : m_controls.internal;
    return field->text().toUtf8().toStdString();
}

bool WindowCheckTab::readHttps() {
    return m_controls.https->isChecked();
}

void WindowCheckTab::emptyLog() {
    m_controls.log->clearText();
}

void WindowCheckTab::addLogLine(const std::string& line) {
    m_controls.log->appendLine(QString::fromStdString(line));
}

void WindowCheckTab::showIndicator(Indicator indicator, bool visible) {
    m_controls.indicators.at(static_cast<std::size_t>(indicator))->setVisible(visible);
}

}  // namespace quelvar
