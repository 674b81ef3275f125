#include "common/whole_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace telvora {

namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path, int error) {
    throw std::runtime_error(what + " '" + path + "': " + std::strerror(error));
}

// Closes the descriptor however the function is left.
struct TDescriptor {
    int fd;
    ~TDescriptor() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

} // namespace

std::string ReadWholeFile(const std::string& path, std::size_t maxBytes) {
    TDescriptor file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    if (file.fd < 0) {
        Fail("Cannot read", path, errno);
    }
    struct stat info {};
    if (::fstat(file.fd, &info) != 0) {
        Fail("Cannot read", path, errno);
    }
    if (!S_ISREG(info.st_mode)) {
        throw std::runtime_error("Cannot read '" + path + "': not a regular file");
    }
    if (static_cast<std::size_t>(info.st_size) > maxBytes) {
        throw std::runtime_error("Cannot read '" + path + "': larger than " +
                                 std::to_string(maxBytes) + " bytes");
    }
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(file.fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            Fail("Cannot read", path, errno);
        }
        if (got == 0) {
            return bytes;
        }
        bytes.append(buffer, static_cast<std::size_t>(got));
        if (bytes.size() > maxBytes) {
            throw std::runtime_error("Cannot read '" + path + "': larger than " +
                                     std::to_string(maxBytes) + " bytes");
        }
    }
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
    TDescriptor file{::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)};
    if (file.fd < 0) {
        Fail("Cannot write", path, errno);
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(file.fd, bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put < 0) {
            Fail("Cannot write", path, errno);
        }
        done += static_cast<std::size_t>(put);
    }
    const int fd = file.fd;
    file.fd = -1;
    if (::close(fd) != 0) {
        Fail("Cannot write", path, errno);
    }
}

} // namespace telvora
