#include "app/qt/WindowCheckTab.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QThread>

#include <utility>

#include "app/qt/LogBox.h"

namespace quelvar {

namespace {

const QEvent::Type kTaskEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

}  // namespace

// Lives on the window's thread and carries out the tab's task when its event arrives there.
// The event only wakes it: the task itself passes under the tab's mutex, not through the event
// queue, so thread checkers see the hand-over.
class WindowCheckTab::Courier : public QObject {
public:
    explicit Courier(WindowCheckTab& tab) : m_tab(tab) {}

    bool event(QEvent* event) override {
        if (event->type() != kTaskEvent) {
            return QObject::event(event);
        }
        m_tab.carryOut();
        return true;
    }

private:
    WindowCheckTab& m_tab;
};

WindowCheckTab::WindowCheckTab(QObject* context, Controls controls)
    : m_context(context), m_controls(controls), m_courier(std::make_unique<Courier>(*this)) {
    m_courier->moveToThread(context->thread());
}

WindowCheckTab::~WindowCheckTab() = default;

bool WindowCheckTab::onWindowThreadNow() const {
    return QThread::currentThread() == m_context->thread();
}

void WindowCheckTab::runOnWindowThread(const std::function<void()>& task) {
    std::unique_lock lock(m_mutex);
    m_task = &task;
    m_done = false;
    lock.unlock();
    QCoreApplication::postEvent(m_courier.get(), new QEvent(kTaskEvent));
    lock.lock();
    m_carriedOut.wait(lock, [this] { return m_done; });
}

void WindowCheckTab::carryOut() {
    std::unique_lock lock(m_mutex);
    const std::function<void()>* task = std::exchange(m_task, nullptr);
    lock.unlock();
    if (task == nullptr) {
        return;
    }
    (*task)();
    lock.lock();
    m_done = true;
    m_carriedOut.notify_one();
}

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
