#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "http/ByteSource.h"

typedef struct ssl_st SSL;

namespace quelvar {

class SocketConnection;
class TlsContext;
struct TlsSocketChannel;

// A TLS client session over a connected socket, whose waits share the socket's time bound.
class TlsConnection : public ByteSource {
public:
    // Performs the handshake naming serverName by SNI; throws Error "Error connecting with
    // SSL." CR LF reason, or the socket error when the socket fails.
    TlsConnection(SocketConnection& socket, const TlsContext& context,
                  const std::string& serverName);
    // Sends close_notify when the session is still sound, and frees it.
    ~TlsConnection() override;
    TlsConnection(const TlsConnection&) = delete;
    TlsConnection& operator=(const TlsConnection&) = delete;

    std::size_t read(char* buffer, std::size_t size) override;
    // Sends every byte of data; throws Error when the session or the socket fails.
    void writeAll(std::string_view data);

private:
    SocketConnection& m_socket;
    std::unique_ptr<TlsSocketChannel> m_channel;
    SSL* m_ssl = nullptr;
    bool m_broken = false;
};

}  // namespace quelvar
