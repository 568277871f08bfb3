#pragma once

#include <string_view>
#include <vector>

namespace quelvar::test {

// Returns the names of the controls the Tab key goes through on the tab sheet, in order from
// the tab control on: the sheet's controls in the form's tab order within each parent, group
// boxes entered, disabled controls skipped. The tab control itself, which closes the cycle,
// is not listed.
std::vector<std::string_view> tabCycle(std::string_view sheet);

}  // namespace quelvar::test
