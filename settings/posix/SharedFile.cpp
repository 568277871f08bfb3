#include "settings/SharedFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "base/Error.h"
#include "settings/SystemText.h"

namespace quelvar {

namespace {

[[noreturn]] void throwCannotOpen(const std::filesystem::path& path, int error) {
    throw Error(cannotOpenMessage(path.string(), std::generic_category().message(error)));
}

// Closes the descriptor when it goes.
class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() { ::close(m_fd); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

}  // namespace

std::string readSharedFile(const std::filesystem::path& path, std::size_t limit) {
    // Non-blocking for the open only, so that a FIFO without writer cannot hang the start.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        throwCannotOpen(path, errno);
    }
    const Descriptor file(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        throwCannotOpen(path, errno);
    }
    if (S_ISDIR(info.st_mode)) {
        throwCannotOpen(path, EISDIR);
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    std::string bytes(limit, '\0');
    std::size_t total = 0;
    while (total < limit) {
        const ssize_t got = ::read(fd, bytes.data() + total, limit - total);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw Error(trimmedSystemText(std::generic_category().message(errno)));
        }
        if (got == 0) {
            break;
        }
        total += static_cast<std::size_t>(got);
    }
    bytes.resize(total);
    return bytes;
}

}  // namespace quelvar
