#pragma once

#include <string>

namespace quelvar {

enum class Indicator { ExternalGreen, ExternalRed, InternalGreen, InternalRed };

// The two halves of a check run: the external check and the internal probe.
enum class Half { External, Internal };

// What a check run sees of its tab: the two address fields, the HTTPS box, the log box and the
// four indicators. The window implements it with its controls; quelvar-check and the tests
// implement it directly. Texts are UTF-8.
class CheckTab {
public:
    virtual ~CheckTab() = default;

    // Returns the external address field's text.
    virtual std::string externalText() = 0;
    // Returns the internal address field's text.
    virtual std::string internalText() = 0;
    // Returns whether the HTTPS box is ticked.
    virtual bool httpsChecked() = 0;
    // Empties the log box.
    virtual void clearLog() = 0;
    // Appends the line's text followed by CR LF to the log box.
    virtual void appendLine(const std::string& line) = 0;
    // Shows or hides one indicator.
    virtual void setIndicatorVisible(Indicator indicator, bool visible) = 0;
    // Receives what led to a half's verdict, once per half just after it: the message of the
    // error that ended the half, or the status or reply member that decided. The log box never
    // shows it; by default it is dropped.
    virtual void reportCause(Half /*half*/, const std::string& /*cause*/) {}
};

}  // namespace quelvar
