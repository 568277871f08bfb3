#include "tests/form/TabCycle.h"

#include "form/MainForm.h"

namespace quelvar::test {

namespace {

void follow(std::string_view parent, std::vector<std::string_view>& cycle) {
    for (const FormControl* row : MainForm::tabOrderOf(parent)) {
        if (row->kind == ControlKind::GroupBox) {
            follow(row->name, cycle);
        } else if (row->enabled) {
            cycle.push_back(row->name);
        }
    }
}

}  // namespace

std::vector<std::string_view> tabCycle(std::string_view sheet) {
    std::vector<std::string_view> cycle;
    for (const FormControl* panel : MainForm::childrenOf(sheet)) {
        follow(panel->name, cycle);
    }
    return cycle;
}

}  // namespace quelvar::test
