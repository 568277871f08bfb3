#pragma once

#include <atomic>
#include <chrono>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "checks/CheckRun.h"
#include "tests/fixtures/ScriptedServer.h"

namespace quelvar::test {

// The log lines a run writes before its external verdict, and between the two verdicts
// (UTF-8).
inline constexpr std::string_view kExternalStart = "Testando Conex\u00e3o Externa...\r\n";
inline constexpr std::string_view kSeparatorAndInternalStart =
    "-----------------------------\r\n\r\n\r\nTestando Conex\u00e3o Interna...\r\n";

// A full run clicked on one tab of either window: the tab's button pressed with the status
// service and the internal address answering scripted replies, and what the tab shows after.
struct RunScenario {
    // Unique, letters, digits and underscores: a test case's name on both platforms.
    const char* name;
    // The check kind of the tab whose button is pressed ("api", "web", "whats").
    const char* tipo;
    std::string statusReply;
    std::string internalReply;
    bool https;
    // The tab's log after the run (UTF-8).
    std::string log;
    // The tab's indicators shown after the run, in the form's order.
    std::vector<std::string> visible;
    // The path of the external URL sent to the status service, and of the internal GET.
    std::string path;
    std::string internalPath;
};

// The status service and the internal address of a scenario, each with the scenario's reply
// scripted.
struct ScenarioServers {
    explicit ScenarioServers(const RunScenario& scenario);

    ScriptedServer status;
    ScriptedServer internal;
};

// Returns the config.js that fills the API tab for a scenario of that tab.
std::string apiTabConfig(std::string_view external, std::string_view internal, bool https);

// The pauses a run takes before its internal probe, recorded instead of slept.
struct RecordedPauses {
    // The pause the scenarios' runs are given.
    static constexpr std::chrono::milliseconds kPause{1234};

    std::atomic<int> count = 0;
    std::atomic<long long> lastMilliseconds = -1;

    // Gives the settings the scenarios' pause and a sleep that records it here.
    void recordInto(CheckRunSettings& settings);
};

// Returns the run of the Web tab in a window whose quelvar.ini was wrong: the status service
// stands ready with a good answer and is never asked, the external half ends in error, the
// internal probe runs as usual.
const RunScenario& statusEndpointFaultScenario();

// Returns the run of the Web tab through a real quelvar-status that quelvar.ini names: the
// service fetches the external address (which answers internalReply, as the internal one
// does) and both halves end well. statusReply is empty.
const RunScenario& realStatusServiceScenario();

// Returns the scenarios both windows' tests run.
std::span<const RunScenario> runScenarios();

// Returns the part of the names of a tab's members that names its product ("Api", "Web" or
// "Whats", as in edtApiExterno) for the check kind of the tab.
std::string_view tabOfKind(std::string_view tipo);

}  // namespace quelvar::test
