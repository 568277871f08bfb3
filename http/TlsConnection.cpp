#include "http/TlsConnection.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cstdint>
#include <memory>

#include "base/Error.h"
#include "http/SocketConnection.h"
#include "http/TlsContext.h"

namespace quelvar {

// The BIO reaches the socket through its connection, whose last failed call it keeps for the
// session to report: the error number is the socket layer's, not OpenSSL's.
struct TlsSocketChannel {
    SocketConnection& socket;
    int lastError = 0;
};

namespace {

constexpr const char* kEofReason = "EOF was observed that violates the protocol";

TlsSocketChannel& channelOf(BIO* bio) {
    return *static_cast<TlsSocketChannel*>(BIO_get_data(bio));
}

// OpenSSL's own socket BIO writes with write(2), which raises SIGPIPE on a connection the peer
// has reset, and reads errno, which Winsock does not set; this one goes through the
// connection's own non-blocking calls and otherwise behaves the same.
int bioWrite(BIO* bio, const char* data, int size) {
    BIO_clear_retry_flags(bio);
    TlsSocketChannel& channel = channelOf(bio);
    const auto attempt = channel.socket.trySend(data, static_cast<std::size_t>(size));
    channel.lastError = attempt.error;
    if (attempt.wouldBlock) {
        BIO_set_retry_write(bio);
        return -1;
    }
    return attempt.error != 0 ? -1 : static_cast<int>(attempt.bytes);
}

int bioRead(BIO* bio, char* data, int size) {
    BIO_clear_retry_flags(bio);
    TlsSocketChannel& channel = channelOf(bio);
    const auto attempt = channel.socket.tryReceive(data, static_cast<std::size_t>(size));
    channel.lastError = attempt.error;
    if (attempt.wouldBlock) {
        BIO_set_retry_read(bio);
        return -1;
    }
    if (attempt.error != 0) {
        return -1;
    }
    if (attempt.bytes == 0) {
        // OpenSSL asks BIO_eof() to tell a peer's close from a failed read.
        BIO_set_flags(bio, BIO_FLAGS_IN_EOF);
    }
    return static_cast<int>(attempt.bytes);
}

long bioControl(BIO* bio, int command, long, void*) {
    switch (command) {
        case BIO_CTRL_FLUSH:
            return 1;
        case BIO_CTRL_EOF:
            return BIO_test_flags(bio, BIO_FLAGS_IN_EOF) != 0 ? 1 : 0;
        default:
            return 0;
    }
}

int bioCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

const BIO_METHOD* socketMethod() {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* made =
            BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "quelvar socket");
        if (made != nullptr) {
            BIO_meth_set_write(made, bioWrite);
            BIO_meth_set_read(made, bioRead);
            BIO_meth_set_ctrl(made, bioControl);
            BIO_meth_set_create(made, bioCreate);
        }
        return made;
    }();
    return method;
}

bool isUnexpectedEof(unsigned long code) {
    return ERR_GET_LIB(code) == ERR_LIB_SSL &&
           ERR_GET_REASON(code) == SSL_R_UNEXPECTED_EOF_WHILE_READING;
}

}  // namespace

TlsConnection::TlsConnection(SocketConnection& socket, const TlsContext& context,
                             const std::string& serverName)
    : m_socket(socket), m_channel(std::make_unique<TlsSocketChannel>(socket)) {
    ERR_clear_error();
    m_ssl = SSL_new(context.handle());
    BIO* bio = m_ssl == nullptr || socketMethod() == nullptr ? nullptr : BIO_new(socketMethod());
    if (bio == nullptr) {
        SSL_free(m_ssl);
        throw Error("Error connecting with SSL.\r\n" + TlsContext::takeErrorReason());
    }
    BIO_set_data(bio, m_channel.get());
    SSL_set_bio(m_ssl, bio, bio);
    // The host is named even when it is an IP address: some servers pick their site by it.
    if (!serverName.empty()) {
        SSL_set_tlsext_host_name(m_ssl, serverName.c_str());
    }

    try {
        for (;;) {
            m_channel->lastError = 0;
            const int result = SSL_connect(m_ssl);
            if (result == 1) {
                break;
            }
            const int socketErrorNumber = m_channel->lastError;
            const int error = SSL_get_error(m_ssl, result);
            if (error == SSL_ERROR_WANT_READ) {
                m_socket.waitReadable();
                continue;
            }
            if (error == SSL_ERROR_WANT_WRITE) {
                m_socket.waitWritable();
                continue;
            }
            const unsigned long code = ERR_peek_last_error();
            if (error == SSL_ERROR_SYSCALL && code == 0 && socketErrorNumber != 0) {
                throw SocketConnection::socketError(socketErrorNumber);
            }
            std::string reason;
            if (error == SSL_ERROR_ZERO_RETURN || isUnexpectedEof(code) ||
                (error == SSL_ERROR_SYSCALL && code == 0)) {
                reason = kEofReason;
                ERR_clear_error();
            } else {
                reason = TlsContext::takeErrorReason();
            }
            throw Error("Error connecting with SSL.\r\n" + reason);
        }
    } catch (...) {
        ERR_clear_error();
        SSL_free(m_ssl);
        throw;
    }
}

TlsConnection::~TlsConnection() {
    // After a fatal error OpenSSL forbids the shutdown; otherwise close_notify is sent once,
    // without waiting for the server's answer.
    if (!m_broken) {
        SSL_shutdown(m_ssl);
    }
    ERR_clear_error();
    SSL_free(m_ssl);
}

std::size_t TlsConnection::read(char* buffer, std::size_t size) {
    const int wanted = size > 65536 ? 65536 : static_cast<int>(size);
    for (;;) {
        m_channel->lastError = 0;
        const int n = SSL_read(m_ssl, buffer, wanted);
        if (n > 0) {
            return static_cast<std::size_t>(n);
        }
        const int socketErrorNumber = m_channel->lastError;
        const int error = SSL_get_error(m_ssl, n);
        switch (error) {
            case SSL_ERROR_ZERO_RETURN:
                return 0;
            case SSL_ERROR_WANT_READ:
                m_socket.waitReadable();
                break;
            case SSL_ERROR_WANT_WRITE:
                m_socket.waitWritable();
                break;
            case SSL_ERROR_SYSCALL:
                m_broken = true;
                if (ERR_peek_last_error() == 0 && socketErrorNumber != 0) {
                    ERR_clear_error();
                    throw SocketConnection::socketError(socketErrorNumber);
                }
                ERR_clear_error();
                return 0;
            default: {
                m_broken = true;
                // Many servers close without close_notify; the reply ends there, as it would
                // over a plain socket.
                if (isUnexpectedEof(ERR_peek_last_error())) {
                    ERR_clear_error();
                    return 0;
                }
                throw Error("Error reading with SSL.\r\n" + TlsContext::takeErrorReason());
            }
        }
    }
}

void TlsConnection::writeAll(std::string_view data) {
    while (!data.empty()) {
        m_channel->lastError = 0;
        const int wanted = data.size() > 65536 ? 65536 : static_cast<int>(data.size());
        const int n = SSL_write(m_ssl, data.data(), wanted);
        if (n > 0) {
            data.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        const int socketErrorNumber = m_channel->lastError;
        const int error = SSL_get_error(m_ssl, n);
        if (error == SSL_ERROR_WANT_WRITE) {
            m_socket.waitWritable();
        } else if (error == SSL_ERROR_WANT_READ) {
            m_socket.waitReadable();
        } else {
            m_broken = true;
            if (error == SSL_ERROR_SYSCALL && ERR_peek_last_error() == 0 &&
                socketErrorNumber != 0) {
                throw SocketConnection::socketError(socketErrorNumber);
            }
            throw Error("Error writing with SSL.\r\n" + TlsContext::takeErrorReason());
        }
    }
}

}  // namespace quelvar
