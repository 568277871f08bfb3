// quelvar-check: performs the check run of one product from a terminal, with the same code as
// the window's tabs, and prints the log lines and the indicators' states.

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "checks/CheckRun.h"
#include "http/Error.h"
#include "http/RestClient.h"
#include "http/RestRequest.h"
#include "http/RestResponse.h"
#include "settings/SettingsFile.h"
#include "settings/Utf16.h"
#include "terminal/TerminalTab.h"

namespace {

using quelvar::Error;

constexpr int kExitGreen = 0;
constexpr int kExitNotGreen = 1;
constexpr int kExitUsage = 2;

constexpr const char* kProgram = "quelvar-check";

// A command line that does not have the program's form.
class UsageError : public Error {
public:
    using Error::Error;
};

struct Options {
    const quelvar::Product* product = nullptr;
    std::optional<std::string> externalText;
    std::optional<std::string> internalText;
    bool https = false;
    std::optional<std::string> statusUrl;
    std::optional<std::string> configFile;
    bool verbose = false;
    bool help = false;
};

void printUsage(std::ostream& out) {
    out << "Usage: quelvar-check api|web|whats [--external TEXT] [--internal TEXT] [--https]\n"
           "                    [--status-url URL] [--verbose]\n"
           "       quelvar-check api --config FILE [--status-url URL] [--verbose]\n"
           "\n"
           "Performs the check run of one product, as the product's tab in the Quelvar window\n"
           "does, prints each log line as it is appended and then the state of the external\n"
           "and the internal indicators.\n"
           "\n"
           "  --external TEXT   external address field (empty when omitted)\n"
           "  --internal TEXT   internal address field (empty when omitted)\n"
           "  --https           ticks the HTTPS box\n"
           "  --status-url URL  status service endpoint (default "
        << quelvar::defaultStatusEndpoint()
        << ")\n"
           "  --config FILE     api only: fills both fields and the HTTPS box from a\n"
           "                    settings file (config.js), instead of the three options above\n"
           "  --verbose         after each half's verdict, prints on standard error what led\n"
           "                    to it: the error's message, the reply's status or the\n"
           "                    status service's statusCode or code\n"
           "  --help            shows this text\n"
           "\n"
           "Exit status: 0 when both halves are green, 1 otherwise, 2 on a usage error.\n";
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

bool colourWanted() {
    const char* term = std::getenv("TERM");
    return ::isatty(STDOUT_FILENO) == 1 && std::getenv("NO_COLOR") == nullptr &&
           !(term != nullptr && std::strcmp(term, "dumb") == 0);
}

int runProgram(const Options& options) {
    quelvar::TerminalTab tab(
        std::cout,
        colourWanted() ? quelvar::TerminalTab::Colour::On : quelvar::TerminalTab::Colour::Off,
        options.verbose ? &std::cerr : nullptr);
    if (options.configFile) {
        TabSettings target(tab);
        try {
            quelvar::SettingsFile::read(*options.configFile, target);
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
    if (options.statusUrl) {
        settings.statusEndpoint = *options.statusUrl;
    }
    // The window's service-profile members, made once as the window makes them.
    quelvar::RestClient client;
    quelvar::RestResponse response;
    quelvar::RestRequest request(client, response);
    quelvar::runCheck(*options.product, tab, {client, request, response}, settings);
    tab.printIndicators();

    return tab.externalState() == quelvar::TerminalTab::PairState::Green &&
                   tab.internalState() == quelvar::TerminalTab::PairState::Green
               ? kExitGreen
               : kExitNotGreen;
}

}  // namespace

int main(int argc, char* argv[]) {
    // Byte for byte: the fields are UTF-8 text.
    const std::vector<std::string> arguments(argv + 1, argv + argc);

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
        return runProgram(options);
    } catch (const std::exception& error) {
        std::cerr << kProgram << ": " << error.what() << '\n';
        return kExitNotGreen;
    }
}
