// quelvar-check: performs the check run of one product from a terminal, with the same code as
// the window's tabs, and prints the log lines and the indicators' states, or one JSON object.

#include <chrono>
#include <filesystem>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/Error.h"
#include "checks/CheckRun.h"
#include "http/RestClient.h"
#include "http/RestRequest.h"
#include "http/RestResponse.h"
#include "settings/ClientIni.h"
#include "settings/SettingsFile.h"
#include "terminal/Console.h"
#include "terminal/JsonReport.h"
#include "terminal/TerminalTab.h"
#include "text/Utf8.h"

namespace {

using quelvar::Error;

constexpr int kExitGreen = 0;
constexpr int kExitNotGreen = 1;
constexpr int kExitUsage = 2;

constexpr const char* kProgram = "quelvar-check";

// Where quelvar.ini is looked for (settings/ClientIni.h), as the usage names it.
#ifdef _WIN32
constexpr const char* kSearchPlaces = "beside the program";
#else
constexpr const char* kSearchPlaces =
    "beside the program,\n"
    "                    in $XDG_CONFIG_HOME/quelvar or ~/.config/quelvar, in /etc/quelvar";
#endif

// A command line that does not have the program's form.
class UsageError : public Error {
public:
    using Error::Error;
};

// A quelvar.ini that is there but wrong.
class ClientIniError : public Error {
public:
    using Error::Error;
};

struct Options {
    const quelvar::Product* product = nullptr;
    std::optional<std::string> externalText;
    std::optional<std::string> internalText;
    bool https = false;
    std::optional<std::string> statusUrl;
    // The settings file's path as UTF-8 text; empty for "config.js" beside the executable.
    std::optional<std::string> configFile;
    bool verbose = false;
    bool json = false;
    bool help = false;
};

void printUsage(std::ostream& out) {
    out << "Usage: quelvar-check api|web|whats [--external TEXT] [--internal TEXT] [--https]\n"
           "                    [--status-url URL] [--verbose] [--json]\n"
           "       quelvar-check api --config [FILE] [--status-url URL] [--verbose] [--json]\n"
           "\n"
           "Performs the check run of one product, as the product's tab in the Quelvar window\n"
           "does, prints each log line as it is appended and then the state of the external\n"
           "and the internal indicators.\n"
           "\n"
           "  --external TEXT   external address field (empty when omitted)\n"
           "  --internal TEXT   internal address field (empty when omitted)\n"
           "  --https           ticks the HTTPS box\n"
           "  --status-url URL  status service endpoint; without it, https://HOST/v1/status\n"
           "                    with the host of [status] host = HOST in the first quelvar.ini\n"
           "                    found ("
        << kSearchPlaces
        << "),\n"
           "                    else "
        << quelvar::defaultStatusEndpoint()
        << "\n"
           "  --config [FILE]   api only: fills both fields and the HTTPS box from a\n"
           "                    settings file (config.js), instead of the three options above;\n"
           "                    without FILE, from the config.js in the program's own\n"
           "                    directory, as the window does\n"
           "  --verbose         names on standard error the quelvar.ini read (or that none\n"
           "                    was found) and, after each half's verdict, prints there what\n"
           "                    led to it: the error's message, the reply's status or the\n"
           "                    status service's statusCode or code (with --json, in the\n"
           "                    object instead)\n"
           "  --json            prints one JSON object on standard output instead of the log\n"
           "                    lines and states: the tab, the status endpoint and where it\n"
           "                    came from, each half's verdict (green, red or none), log line,\n"
           "                    cause and duration in milliseconds, and the whole duration\n"
           "  --help            shows this text\n"
           "\n"
           "Exit status: 0 when both halves are green, 1 otherwise, 2 on a usage error or a\n"
           "wrong quelvar.ini.\n";
}

// Stores an option's value; throws UsageError when the option was given before.
void setOnce(std::optional<std::string>& slot, const std::string& option, std::string value) {
    if (slot) {
        throw UsageError(option + " given more than once");
    }
    slot = std::move(value);
}

// Returns the options of the command line; throws UsageError when it has not the program's
// form.
Options parseArguments(const std::vector<std::string>& arguments) {
    Options options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            options.help = true;
            return options;
        }
        if (argument == "--https") {
            if (options.https) {
                throw UsageError("--https given more than once");
            }
            options.https = true;
            continue;
        }
        if (argument == "--verbose") {
            if (options.verbose) {
                throw UsageError("--verbose given more than once");
            }
            options.verbose = true;
            continue;
        }
        if (argument == "--json") {
            if (options.json) {
                throw UsageError("--json given more than once");
            }
            options.json = true;
            continue;
        }
        if (argument.rfind("--", 0) == 0) {
            const auto equals = argument.find('=');
            const std::string name = argument.substr(0, equals);
            std::optional<std::string>* slot = nullptr;
            if (name == "--external") {
                slot = &options.externalText;
            } else if (name == "--internal") {
                slot = &options.internalText;
            } else if (name == "--status-url") {
                slot = &options.statusUrl;
            } else if (name == "--config") {
                slot = &options.configFile;
            } else {
                throw UsageError("unknown option " + name);
            }
            std::string value;
            if (equals != std::string::npos) {
                value = argument.substr(equals + 1);
            } else if (name == "--config" &&
                       (i + 1 == arguments.size() || arguments[i + 1].starts_with("--"))) {
                // Without a file: the window's own, "config.js" beside the executable.
                value.clear();
            } else if (i + 1 < arguments.size()) {
                // The next argument is the value whatever it looks like, so that a field may
                // hold any text.
                value = arguments[++i];
            } else {
                throw UsageError(name + " needs a value");
            }
            setOnce(*slot, name, std::move(value));
            continue;
        }
        if (options.product != nullptr) {
            throw UsageError("more than one product: " + argument);
        }
        options.product = quelvar::findProduct(argument);
        if (options.product == nullptr) {
            throw UsageError("unknown product " + argument + " (api, web or whats)");
        }
    }
    if (options.product == nullptr) {
        throw UsageError("no product given (api, web or whats)");
    }
    if (options.configFile) {
        if (options.product->kind != quelvar::CheckKind::Api) {
            throw UsageError("--config belongs to the api product only");
        }
        if (options.externalText || options.internalText || options.https) {
            throw UsageError("--config fills the fields and the HTTPS box; give none of them");
        }
    }
    return options;
}

// Fills the terminal tab from the settings file as the window fills its API tab.
class TabSettings : public quelvar::SettingsTarget {
public:
    explicit TabSettings(quelvar::TerminalTab& tab) : m_tab(tab) {}
    void setUsaHttps(bool https) override { m_tab.setHttpsChecked(https); }
    void setIpExterno(const std::u16string& text) override {
        m_tab.setExternalText(quelvar::utf8FromUtf16(text));
    }
    void setIpInterno(const std::u16string& text) override {
        m_tab.setInternalText(quelvar::utf8FromUtf16(text));
    }

private:
    quelvar::TerminalTab& m_tab;
};

// Returns an error message as the window shows it: with a full stop added when its last
// character comes after "." in code order.
std::string shownMessage(std::string message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') {
        message += '.';
    }
    return message;
}

// Returns the path of a UTF-8 path text, which a narrow std::string would take in the ANSI code
// page on Windows.
std::filesystem::path pathOf(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// The status service's endpoint of a run and where it came from.
struct StatusEndpoint {
    std::string url;
    std::string source;
};

// Returns the endpoint: --status-url, else the host of the first quelvar.ini found, else the
// built-in one. With --verbose, says on standard error which file was read or that none was
// found. Throws ClientIniError when the file found is wrong.
StatusEndpoint statusEndpoint(const Options& options) {
    if (options.statusUrl) {
        return {*options.statusUrl, "--status-url"};
    }
    std::optional<quelvar::ClientIni> ini;
    try {
        ini = quelvar::ClientIni::load(quelvar::ClientIni::searchPath());
    } catch (const std::exception& error) {
        throw ClientIniError(error.what());
    }
    if (!ini) {
        if (options.verbose) {
            std::cerr << "no quelvar.ini found; status endpoint "
                      << quelvar::defaultStatusEndpoint() << '\n';
        }
        return {quelvar::defaultStatusEndpoint(), "built-in"};
    }
    const std::u8string file = ini->file.u8string();
    std::string source(file.begin(), file.end());
    if (options.verbose) {
        std::cerr << "read " << source << "; status endpoint " << ini->statusEndpoint() << '\n';
    }
    return {ini->statusEndpoint(), std::move(source)};
}

int runProgram(const Options& options, const quelvar::Console& console) {
    const auto started = std::chrono::steady_clock::now();
    const StatusEndpoint endpoint = statusEndpoint(options);
    // With --json the log lines go nowhere, and the causes only into the report.
    std::ostringstream discarded;
    quelvar::TerminalTab tab(options.json ? static_cast<std::ostream&>(discarded) : std::cout,
                             console.colourWanted() && !options.json
                                 ? quelvar::TerminalTab::Colour::On
                                 : quelvar::TerminalTab::Colour::Off,
                             options.verbose && !options.json ? &std::cerr : nullptr);
    if (options.configFile) {
        TabSettings target(tab);
        try {
            quelvar::SettingsFile::read(options.configFile->empty()
                                            ? quelvar::SettingsFile::besideExecutable()
                                            : pathOf(*options.configFile),
                                        target);
        } catch (const std::exception& error) {
            std::cerr << kProgram << ": " << shownMessage(error.what()) << '\n';
            return kExitNotGreen;
        }
    } else {
        tab.setExternalText(options.externalText.value_or(""));
        tab.setInternalText(options.internalText.value_or(""));
        tab.setHttpsChecked(options.https);
    }

    quelvar::CheckRunSettings settings;
    settings.statusEndpoint = endpoint.url;
    settings.sleep = [&tab](std::chrono::milliseconds pause) {
        std::this_thread::sleep_for(pause);
        tab.markPauseEnd();
    };
    // The window's service-profile members, made once as the window makes them.
    quelvar::RestClient client;
    quelvar::RestResponse response;
    quelvar::RestRequest request(client, response);
    quelvar::runCheck(*options.product, tab, {client, request, response}, settings);

    if (options.json) {
        quelvar::RunReport report;
        report.tab = options.product->name;
        report.statusEndpoint = endpoint.url;
        report.statusEndpointSource = endpoint.source;
        report.external = {tab.externalState(), tab.externalRecord()};
        report.internal = {tab.internalState(), tab.internalRecord()};
        report.duration = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - started);
        std::cout << quelvar::jsonReport(report) << std::flush;
    } else {
        tab.printIndicators();
    }

    return tab.externalState() == quelvar::TerminalTab::PairState::Green &&
                   tab.internalState() == quelvar::TerminalTab::PairState::Green
               ? kExitGreen
               : kExitNotGreen;
}

}  // namespace

int main(int argc, char* argv[]) {
    const quelvar::Console console;
    const std::vector<std::string> arguments = quelvar::Console::arguments(argc, argv);

    Options options;
    try {
        options = parseArguments(arguments);
    } catch (const UsageError& error) {
        std::cerr << kProgram << ": " << error.what() << "\n\n";
        printUsage(std::cerr);
        return kExitUsage;
    }
    if (options.help) {
        printUsage(std::cout);
        return kExitGreen;
    }
    try {
        return runProgram(options, console);
    } catch (const ClientIniError& error) {
        std::cerr << kProgram << ": " << shownMessage(error.what()) << '\n';
        return kExitUsage;
    } catch (const std::exception& error) {
        std::cerr << kProgram << ": " << error.what() << '\n';
        return kExitNotGreen;
    }
}
