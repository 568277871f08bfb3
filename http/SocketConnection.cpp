#include "http/SocketConnection.h"

namespace quelvar {

std::size_t SocketConnection::read(char* buffer, std::size_t size) {
    for (;;) {
        const Attempt attempt = tryReceive(buffer, size);
        if (attempt.error != 0) {
            throw socketError(attempt.error);
        }
        if (!attempt.wouldBlock) {
            return attempt.bytes;
        }
        waitReadable();
    }
}

void SocketConnection::writeAll(std::string_view data) {
    while (!data.empty()) {
        const Attempt attempt = trySend(data.data(), data.size());
        if (attempt.error != 0) {
            throw socketError(attempt.error);
        }
        if (attempt.wouldBlock) {
            waitWritable();
        } else {
            data.remove_prefix(attempt.bytes);
        }
    }
}

}  // namespace quelvar
