#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "status/RequestHead.h"
#include "status/ServerSettings.h"
#include "status/StatusRequest.h"

namespace quelvar::status {

// The path a request is for.
enum class Route { Status, Health, Metrics, Unknown };

// The refusals the front writes, each message written here once.
struct Refusal {
    static RequestRejection malformedHead();
    static RequestRejection headTooLarge();
    static RequestRejection requestLineTooLong();
    static RequestRejection unsupportedVersion();
    static RequestRejection bodyTooLarge(std::size_t maxBodyBytes);
    static RequestRejection malformedBody();
    static RequestRejection tooManyChecks();
    static RequestRejection shuttingDown();
    static RequestRejection internalError();
};

// What the front does with a request, judged from its head alone.
struct Admission {
    // When a refusal is sent: after the body has been read (and dropped), so that the
    // connection can serve the next request, or at once, closing the connection after it.
    enum class Timing { AfterBody, AtOnce };

    Route route = Route::Unknown;
    std::optional<RequestRejection> rejection;
    Timing timing = Timing::AfterBody;
    std::string allow;  // the Allow header of a 405
    bool chunked = false;
    std::uint64_t contentLength = 0;
    bool expectsContinue = false;
};

// A request whose body announces more than this is refused before the body is read; a body
// read and dropped is read up to this size, so that closing the connection never meets unread
// data, which would make TCP reset it and destroy the reply.
inline constexpr std::size_t kDiscardLimit = 1024 * 1024;

// Judges a request head: its framing (RFC 9112 sections 3.2, 5, 6.1 and 6.3), its route and
// method, its media type, the client's rate (takeRateToken is asked only for a check that
// would otherwise be admitted) and its announced size.
Admission admitRequest(const RequestHead& head, Routes routes, std::size_t maxBodyBytes,
                       const std::function<bool()>& takeRateToken);

}  // namespace quelvar::status
