#include "tests/http/SocketTransport.h"

namespace quelvar::test {

std::string socketFailure(SocketFailure failure) {
    switch (failure) {
        case SocketFailure::TimedOut:
            return "Socket Error # 110\r\nConnection timed out";
        case SocketFailure::Reset:
            return "Socket Error # 104\r\nConnection reset by peer";
        case SocketFailure::Refused:
            return "Socket Error # 111\r\nConnection refused";
        // The resolver's own codes (negative on glibc) with its texts.
        case SocketFailure::NameNotResolved:
            return "Socket Error # -2\r\nName or service not known";
        case SocketFailure::NoAddressOfFamily:
            return "Socket Error # -9\r\nAddress family for hostname not supported";
    }
    return {};
}

}  // namespace quelvar::test
