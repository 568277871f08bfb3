#pragma once

#include <QObject>

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>

#include "form/WindowThread.h"

namespace quelvar {

// The window's thread in Qt: a task from another thread reaches it as an event to this object,
// which lives there. The event only wakes it: the task itself passes under the courier's mutex,
// not through the event queue, so thread checkers see the hand-over.
class EventCourier : public QObject, public WindowThread {
public:
    // Makes the courier of the context's thread; made on that thread.
    explicit EventCourier(QObject* context);

    bool isCurrent() const override;
    void carryOut(const std::function<void()>& task) override;

    bool event(QEvent* event) override;

private:
    // One task at a time, since a run waits for each call and runs never overlap. The task
    // and its end pass under the mutex, so what the task reads and writes is seen whole on
    // both sides.
    std::mutex m_mutex;
    std::condition_variable m_carriedOut;
    const std::function<void()>* m_task = nullptr;
    bool m_done = false;
};

}  // namespace quelvar
