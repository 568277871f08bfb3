#pragma once

#include <QObject>

#include <array>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "form/WindowThreadTab.h"

class QCheckBox;
class QLabel;
class QLineEdit;

namespace quelvar {

class LogBox;

// One tab of the window as a check run sees it: the Qt half of WindowThreadTab, whose tasks
// reach the window's thread as events.
class WindowCheckTab : public WindowThreadTab {
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

    const Controls& controls() const { return m_controls; }

private:
    class Courier;

    // The hand-over: an event to the courier, which lives on the window's thread.
    bool onWindowThreadNow() const override;
    void runOnWindowThread(const std::function<void()>& task) override;

    std::string fieldText(Half half) override;
    bool readHttps() override;
    void emptyLog() override;
    void addLogLine(const std::string& line) override;
    void showIndicator(Indicator indicator, bool visible) override;

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
};

}  // namespace quelvar
