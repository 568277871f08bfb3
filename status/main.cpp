// quelvar-status: the status service that Quelvar's external check asks to fetch a URL.
#include <signal.h>
#include <sys/resource.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "status/ClientConfig.h"
#include "status/HostAddresses.h"
#include "status/ServiceError.h"
#include "status/ServiceOptions.h"
#include "status/StatusService.h"

using namespace quelvar::status;

namespace {

// Each pending check holds two descriptors (client and target), so the soft limit is raised
// to the hard one.
void raiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

}  // namespace

int main(int argc, char** argv) {
    ServiceOptions options;
    try {
        options = ServiceOptions::parse(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const ServiceError& error) {
        std::fprintf(stderr, "quelvar-status: %s\n", error.what());
        return 2;
    }
    if (options.help) {
        std::fputs(ServiceOptions::usage().c_str(), stdout);
        return 0;
    }
    if (options.printClientConfig) {
        try {
            std::fputs(ClientConfig::forOptions(options).c_str(), stdout);
        } catch (const ServiceError& error) {
            std::fprintf(stderr, "quelvar-status: %s\n", error.what());
            return 1;
        }
        return 0;
    }
    const LogSink sink = StatusService::stderrLog(options.logLevel);
    const auto log = [&sink](const std::string& line) { sink(LogLevel::Info, line); };

    // The signals are taken by sigwait below; blocked before any thread starts, so that every
    // thread inherits the mask and none is interrupted by them.
    sigset_t handledSignals;
    sigemptyset(&handledSignals);
    sigaddset(&handledSignals, SIGTERM);
    sigaddset(&handledSignals, SIGINT);
    sigaddset(&handledSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &handledSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    raiseDescriptorLimit();

    try {
        StatusService service(StatusService::settingsFrom(options), sink);
        if (!options.allowPrivate && HostAddresses::interfaceAddresses().empty()) {
            sink(LogLevel::Warning,
                 "WARNING: the host's interface addresses cannot be read, so the address "
                 "policy cannot refuse them");
        }
        if (options.allowPrivate) {
            sink(LogLevel::Warning,
                 "WARNING: --allow-private is on: loopback, private and link-local addresses can "
                 "be fetched; never run this way where untrusted clients reach the service");
        }
        const bool tls = options.demo || !options.tlsCertFile.empty();
        ListenAddress bound = options.listen;
        bound.port = service.port();
        log(std::string("listening on ") + (tls ? "https://" : "http://") + bound.toString());
        if (options.healthListen) {
            ListenAddress health = *options.healthListen;
            health.port = *service.healthPort();
            log("health check on http://" + health.toString() + "/healthcheck");
        }

        int received = 0;
        for (;;) {
            if (sigwait(&handledSignals, &received) != 0) {
                continue;
            }
            if (received != SIGHUP) {
                break;
            }
            // As nginx does: the new pair serves new handshakes, everything open carries on.
            log("received SIGHUP, reading the certificate again");
            service.reloadCertificate();
        }
        log(std::string("received ") + (received == SIGTERM ? "SIGTERM" : "SIGINT") +
            ", finishing " + std::to_string(service.engine().inFlight()) + " running checks");
        const bool clean = service.shutdown(options.graceTime);
        log(clean ? "stopped" : "stopped, grace time over: remaining checks were cancelled");
    } catch (const ServiceError& error) {
        sink(LogLevel::Error, std::string("quelvar-status: ") + error.what());
        return 1;
    }
    return 0;
}
