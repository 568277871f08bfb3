#pragma once

#include <QObject>
#include <QThread>

#include <array>
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

    // Makes the tab of the controls, whose calls are carried out on the context's thread.
    WindowCheckTab(QObject* context, Controls controls);

    std::string externalText() override;
    std::string internalText() override;
    bool httpsChecked() override;
    void clearLog() override;
    void appendLine(const std::string& line) override;
    void setIndicatorVisible(Indicator indicator, bool visible) override;

    const Controls& controls() const { return m_controls; }

private:
    template <typename Function>
    auto onWindowThread(Function function) -> std::invoke_result_t<Function> {
        using Result = std::invoke_result_t<Function>;
        if (QThread::currentThread() == m_context->thread()) {
            return function();
        }
        if constexpr (std::is_void_v<Result>) {
            QMetaObject::invokeMethod(m_context, function, Qt::BlockingQueuedConnection);
        } else {
            Result result{};
            QMetaObject::invokeMethod(
                m_context, [&result, &function] { result = function(); },
                Qt::BlockingQueuedConnection);
            return result;
        }
    }

    QObject* m_context;
    Controls m_controls;
};

}  // namespace quelvar
