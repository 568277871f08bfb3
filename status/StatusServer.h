#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "status/CheckEngine.h"
#include "status/Log.h"
#include "status/ServerSettings.h"

namespace quelvar::status {

class Metrics;
class TlsKeyPair;

// The HTTP front on Boost.Beast over Asio: one thread runs every connection, a check's
// connection waits for the engine without being read, and a periodic watch closes connections
// whose request comes too slowly and cancels checks whose client has gone.
class StatusServer {
public:
    // Starts listening; throws ServiceError when the address cannot be bound or the TLS pair is
    // bad. The engine may be null for a HealthOnly listener; it must be stopped before this
    // server is destroyed.
    StatusServer(ServerSettings settings, CheckEngine* engine, Metrics& metrics, LogSink log);
    ~StatusServer();
    StatusServer(const StatusServer&) = delete;
    StatusServer& operator=(const StatusServer&) = delete;

    // Returns the port bound (useful with port 0).
    std::uint16_t port() const;
    // Closes the listening socket; connections already open are served to their end.
    void stopAccepting();
    // Waits until no request is open, for at most the grace time; returns whether none is.
    bool waitUntilIdle(std::chrono::milliseconds grace);
    // Returns the number of checks whose connection waits for the engine.
    std::size_t pendingChecks() const;
    // Returns the certificate and key that new TLS handshakes get; null for plain HTTP.
    std::shared_ptr<const TlsKeyPair> keyPair() const;
    // Serves the pair to every TLS handshake from now on; connections already open keep the
    // pair they were given, and nothing in flight is dropped.
    void replaceKeyPair(std::shared_ptr<const TlsKeyPair> pair);

    // The listener and its connections, on Asio; defined where Beast is included.
    class Front;

private:
    std::unique_ptr<Front> m_front;
};

}  // namespace quelvar::status
