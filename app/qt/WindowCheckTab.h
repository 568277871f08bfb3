#pragma once

#include <string>

#include "form/ControlsTab.h"

class QCheckBox;
class QLabel;
class QLineEdit;

namespace quelvar {

class LogBox;

// What each call of a check run does with the Qt controls of a tab.
struct QtTabCalls {
    static std::string text(const QLineEdit* field);
    static bool checked(const QCheckBox* box);
    static void clear(LogBox* log);
    static void append(LogBox* log, const std::string& line);
    static void show(QLabel* indicator, bool visible);
};

// One tab of the window as a check run sees it.
class WindowCheckTab final
    : public ControlsTab<TabControls<QLineEdit*, QCheckBox*, LogBox*, QLabel*>, QtTabCalls> {
public:
    using ControlsTab::ControlsTab;
};

}  // namespace quelvar
