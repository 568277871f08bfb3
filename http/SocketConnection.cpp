#include "http/SocketConnection.h"

#include <algorithm>

namespace quelvar {

std::chrono::milliseconds SocketConnection::boundedByDeadline(
    std::chrono::milliseconds wait) const {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(m_deadline - Clock::now());
    return std::clamp(left, std::chrono::milliseconds(0), wait);
}

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
