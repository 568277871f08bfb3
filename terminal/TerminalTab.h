#pragma once

#include <array>
#include <chrono>
#include <optional>
#include <ostream>
#include <string>

#include "checks/CheckTab.h"

namespace quelvar {

// A check tab on a terminal: its fields and HTTPS box are given up front, every line the run
// appends is printed at once, and the indicators are remembered to be printed at the end.
// Given a stream for causes, it prints each half's cause there as one line. Each half's
// verdict line, cause and duration are kept for a report.
class TerminalTab : public CheckTab {
public:
    enum class Colour { Off, On };
    // What one pair of indicators shows.
    enum class PairState { None, Green, Red };
    // What one half of the run left: the line appended after the half's first line (none for
    // a blank verdict), the cause on one line, and the time from the half's start to its
    // cause (for the internal half, from the end of the pause).
    struct HalfRecord {
        std::optional<std::string> line;
        std::string cause;
        std::chrono::milliseconds duration{0};
    };

    // Prints the log and the indicators on out and, when causes is given, each half's cause on
    // it.
    TerminalTab(std::ostream& out, Colour colour, std::ostream* causes = nullptr);

    void setExternalText(std::string text) { m_externalText = std::move(text); }
    void setInternalText(std::string text) { m_internalText = std::move(text); }
    void setHttpsChecked(bool checked) { m_https = checked; }

    std::string externalText() override { return m_externalText; }
    std::string internalText() override { return m_internalText; }
    bool httpsChecked() override { return m_https; }
    // Starts a new log and new records; what was printed stays printed.
    void clearLog() override;
    // Prints each line of the log box that the appended text completes, so the CR LF line
    // prints as two empty lines, just as the box shows it.
    void appendLine(const std::string& line) override;
    void setIndicatorVisible(Indicator indicator, bool visible) override;
    // Prints "external: " or "internal: " and the cause, its line breaks turned into blanks so
    // that it stays one line.
    void reportCause(Half half, const std::string& cause) override;

    // Returns what the external indicators show.
    PairState externalState() const;
    // Returns what the internal indicators show.
    PairState internalState() const;
    // Prints "[external] " and "[internal] " lines with the state of each pair; log lines
    // never begin with "[".
    void printIndicators();

    // Marks the end of the pause before the internal probe, where the internal half's time
    // starts.
    void markPauseEnd();
    // Returns what the external half left.
    const HalfRecord& externalRecord() const { return m_external; }
    // Returns what the internal half left.
    const HalfRecord& internalRecord() const { return m_internal; }

    // Returns the cause as one line: every run of line breaks a blank, none at the end.
    static std::string oneLine(const std::string& cause);

private:
    using Clock = std::chrono::steady_clock;

    PairState pairState(Indicator green, Indicator red) const;
    void printState(const char* half, PairState state);

    std::ostream& m_out;
    Colour m_colour;
    std::ostream* m_causes;
    std::string m_externalText;
    std::string m_internalText;
    bool m_https = false;
    std::array<bool, 4> m_visible{};
    HalfRecord m_external;
    HalfRecord m_internal;
    // When the current half started, none before the run's first line.
    std::optional<Clock::time_point> m_halfStart;
    // The last line appended since the current half started, not counting its first line.
    std::optional<std::string> m_lastLine;
};

}  // namespace quelvar
