#include "app/qt/EventCourier.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include <utility>

namespace quelvar {

namespace {

const QEvent::Type kTaskEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

}  // namespace

EventCourier::EventCourier(QObject* context) {
    moveToThread(context->thread());
}

bool EventCourier::isCurrent() const {
    return QThread::currentThread() == thread();
}

void EventCourier::carryOut(const std::function<void()>& task) {
    std::unique_lock lock(m_mutex);
    m_task = &task;
    m_done = false;
    lock.unlock();
    QCoreApplication::postEvent(this, new QEvent(kTaskEvent));
    lock.lock();
    m_carriedOut.wait(lock, [this] { return m_done; });
}

bool EventCourier::event(QEvent* event) {
    if (event->type() != kTaskEvent) {
        return QObject::event(event);
    }
    std::unique_lock lock(m_mutex);
    const std::function<void()>* task = std::exchange(m_task, nullptr);
    lock.unlock();
    if (task == nullptr) {
        return true;
    }
    (*task)();
    lock.lock();
    m_done = true;
    m_carriedOut.notify_one();
    return true;
}

}  // namespace quelvar
