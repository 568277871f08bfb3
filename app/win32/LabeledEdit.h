#pragma once

#include <windows.h>

namespace quelvar {

// A single-line edit with a label of its own 3 pixels to its left, centred on it vertically,
// as wide as its text. The parent owns and destroys both windows.
struct LabeledEdit {
    HWND edit = nullptr;
    HWND label = nullptr;

    operator HWND() const { return edit; }
};

}  // namespace quelvar
