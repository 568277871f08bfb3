#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace quelvar {

// The modal box in which an error that escapes a window event is shown: the error's message,
// the application title as caption, the error icon and a single OK button.
class EventErrorBox {
public:
    // Returns the application title of an executable: its file name without directory and
    // without everything from the first "." on, every character after the first in lower case.
    static std::wstring applicationTitle(std::wstring_view executablePath);
    // Returns the application title of the running executable.
    static std::wstring applicationTitle();
    // Returns the box's text for a message: the message, with a full stop appended when its
    // last character comes after "." in code order.
    static std::wstring boxText(std::wstring_view message);
    // Shows the box for a UTF-8 message, owned by the window, and returns when it is closed.
    static void show(HWND owner, std::string_view message);
};

}  // namespace quelvar
