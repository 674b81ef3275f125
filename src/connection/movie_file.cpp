#include "connection/movie_file.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace telvora {

namespace {

std::string SystemReason(int error) {
    std::string text = std::strerror(error);
    return text + ".";
}

} // namespace

std::string TMovieFile::OpenFailure(const std::string& path, const std::string& reason) {
    return "Cannot open file \"" + path + "\". " + reason;
}

TMovieFile::TMovieFile(const std::string& path) : m_path(path) {
    // Looked at before opening: opening a named pipe waits for a writer.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        throw EMovieError(OpenFailure(path, SystemReason(errno)));
    }
    if (S_ISDIR(info.st_mode)) {
        throw EMovieError(OpenFailure(path, "It is a folder."));
    }
    if (!S_ISREG(info.st_mode)) {
        throw EMovieError(OpenFailure(path, "It is not a regular file."));
    }
    if (info.st_size > kMaxMovieBytes) {
        throw EMovieError(OpenFailure(
            path, "It is larger than " + std::to_string(kMaxMovieBytes / (1024 * 1024)) + " MB."));
    }
    // O_NONBLOCK: should the file have been swapped for a pipe meanwhile,
    // the open still returns at once.
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (m_fd < 0) {
        throw EMovieError(OpenFailure(path, SystemReason(errno)));
    }
    struct stat opened {};
    if (::fstat(m_fd, &opened) != 0 || !S_ISREG(opened.st_mode) ||
        opened.st_size > kMaxMovieBytes) {
        ::close(m_fd);
        m_fd = -1;
        throw EMovieError(OpenFailure(path, "It is not a regular file."));
    }
    m_size = opened.st_size;
}

TMovieFile::~TMovieFile() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

std::vector<std::uint8_t> TMovieFile::ReadAll() {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(m_size));
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = ::read(m_fd, bytes.data() + filled, bytes.size() - filled);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throw EMovieError("Cannot read file \"" + m_path + "\". " + SystemReason(errno));
        }
        if (got == 0) {
            break; // the file became shorter while it was read
        }
        filled += static_cast<std::size_t>(got);
    }
    bytes.resize(filled);
    return bytes;
}

} // namespace telvora
