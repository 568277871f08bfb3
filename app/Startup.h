#pragma once

namespace quelvar {

// Prepares the running QApplication as the program starts: application identity, carried
// resources, window icon, the Tahoma font and the "Ruby Graphite" theme (with its not-found
// box when absent). Call it after the QApplication is made and before the window.
void prepareApplication();

}  // namespace quelvar
