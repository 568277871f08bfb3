#pragma once

#include <QString>

namespace quelvar {

// The modal box in which an error that escapes a window event is shown: the error's message,
// the application title as caption, the error icon and a single OK button.
class EventErrorBox {
public:
    // Returns the application title of an executable: its file name without directory and
    // without everything from the first "." on, every character after the first in lower case.
    static QString applicationTitle(const QString& executablePath);
    // Returns the application title of the running executable.
    static QString applicationTitle();
    // Returns the box's text for a message: the message, with a full stop appended when its
    // last character comes after "." in code order.
    static QString boxText(const QString& message);
    // Shows the box for a message and returns when the user has closed it.
    static void show(const QString& message);
};

}  // namespace quelvar
