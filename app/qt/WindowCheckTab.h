#pragma once

#include <QObject>
#include <QThread>

#include <array>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <type_traits>

#include "checks/CheckTab.h"

class QCheckBox;
class QLabel;
class QLineEdit;

namespace quelvar {

class LogBox;

// One tab of the window as a check run sees it. A run works on a thread of its own while the
// window keeps drawing; every call is carried out on the window's thread, and a call from the
// run's thread waits until it has been carried out there.
class WindowCheckTab : public CheckTab {
public:
    // The tab's controls; the indicators in the order of Indicator.
    struct Controls {
        QLineEdit* external;
        QLineEdit* internal;
        QCheckBox* https;
        LogBox* log;
        std::array<QLabel*, 4> indicators;
    };

    // Makes the tab of the controls, whose calls are carried out on the context's thread; made
    // on that thread.
    WindowCheckTab(QObject* context, Controls controls);
    ~WindowCheckTab() override;

    std::string externalText() override;
    std::string internalText() override;
    bool httpsChecked() override;
    void clearLog() override;
    void appendLine(const std::string& line) override;
    void setIndicatorVisible(Indicator indicator, bool visible) override;

    const Controls& controls() const { return m_controls; }

private:
    class Courier;

    template <typename Function>
    auto onWindowThread(Function function) -> std::invoke_result_t<Function> {
        using Result = std::invoke_result_t<Function>;
        if (QThread::currentThread() == m_context->thread()) {
            return function();
        }
        if constexpr (std::is_void_v<Result>) {
            runOnWindowThread(function);
        } else {
            Result result{};
            runOnWindowThread([&result, &function] { result = function(); });
            return result;
        }
    }

    // Has the task carried out on the window's thread and waits until it has been; rethrows
    // what it threw.
    void runOnWindowThread(const std::function<void()>& task);
    // Carries out the task handed over by runOnWindowThread; on the window's thread.
    void carryOut();

    QObject* m_context;
    Controls m_controls;
    // The hand-over between the run's thread and the window's: one task at a time, since a
    // run waits for each call and runs never overlap. The task and its end pass under the
    // mutex, so what the task reads and writes is seen whole on both sides.
    std::unique_ptr<Courier> m_courier;
    std::mutex m_mutex;
    std::condition_variable m_carriedOut;
    const std::function<void()>* m_task = nullptr;
    bool m_done = false;
    std::exception_ptr m_failure;
};

}  // namespace quelvar
