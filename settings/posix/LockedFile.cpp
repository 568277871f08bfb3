#include "settings/LockedFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "base/Error.h"
#include "settings/SystemText.h"

namespace quelvar {

namespace {

std::string systemText(int error) {
    return trimmedSystemText(std::generic_category().message(error));
}

[[noreturn]] void throwCannotOpen(const std::filesystem::path& path, int error) {
    // The path's bytes as the file system holds them, which is UTF-8 on the systems served.
    throw Error(cannotOpenMessage(path.string(), std::generic_category().message(error)));
}

// Opens the file for reading with an exclusive hold: another process that holds or asks for a
// lock on it is refused while it is open here, and it is refused here while another holds one.
int openExclusive(const std::filesystem::path& path) {
    // Non-blocking for the open only, so that a FIFO without writer cannot hang the window.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        throwCannotOpen(path, errno);
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        throwCannotOpen(path, error);
    }
    if (S_ISDIR(info.st_mode)) {
        ::close(fd);
        throwCannotOpen(path, EISDIR);
    }
    // A flock() lock belongs to the open file description, so it is taken on a read-only
    // descriptor too (an fcntl write lock would need write access). Where the file system
    // offers no locks at all, the file is read without one.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        ::close(fd);
        throwCannotOpen(path, EWOULDBLOCK);
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    return fd;
}

}  // namespace

LockedFile::LockedFile(const std::filesystem::path& path) : m_handle(openExclusive(path)) {}

LockedFile::~LockedFile() {
    ::close(static_cast<int>(m_handle));
}

std::size_t LockedFile::read(char* buffer, std::size_t size) {
    std::size_t total = 0;
    while (total < size) {
        const ssize_t got = ::read(static_cast<int>(m_handle), buffer + total, size - total);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw Error(systemText(errno));
        }
        if (got == 0) {
            break;
        }
        total += static_cast<std::size_t>(got);
    }
    return total;
}

}  // namespace quelvar
