#include "app/WindowCheckTab.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

#include "app/LogBox.h"

namespace quelvar {

WindowCheckTab::WindowCheckTab(QObject* context, Controls controls)
    : m_context(context), m_controls(controls) {}

std::string WindowCheckTab::externalText() {
    return onWindowThread([this] { return m_controls.external->text().toUtf8().toStdString(); });
}

std::string WindowCheckTab::internalText() {
    return onWindowThread([this] { return m_controls.internal->text().toUtf8().toStdString(); });
}

bool WindowCheckTab::httpsChecked() {
    return onWindowThread([this] { return m_controls.https->isChecked(); });
}

void WindowCheckTab::clearLog() {
    onWindowThread([this] { m_controls.log->clearText(); });
}

void WindowCheckTab::appendLine(const std::string& line) {
    onWindowThread([this, &line] { m_controls.log->appendLine(QString::fromStdString(line)); });
}

void WindowCheckTab::setIndicatorVisible(Indicator indicator, bool visible) {
    onWindowThread([this, indicator, visible] {
        m_controls.indicators.at(static_cast<std::size_t>(indicator))->setVisible(visible);
    });
}

}  // namespace quelvar
