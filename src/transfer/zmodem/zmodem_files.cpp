#include "transfer/zmodem/zmodem_files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace telvora {

TZmodemDiskFiles::~TZmodemDiskFiles() {
    CloseQuietly();
}

bool TZmodemDiskFiles::Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

bool TZmodemDiskFiles::IsPlainFile(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::uint64_t TZmodemDiskFiles::Length(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        ThrowFileError("read", path, errno);
    }
    if (!S_ISREG(info.st_mode)) {
        ThrowFileError("read", path, S_ISLNK(info.st_mode) ? ELOOP : EINVAL);
    }
    return static_cast<std::uint64_t>(info.st_size);
}

void TZmodemDiskFiles::Open(const std::string& path, int flags, const char* what) {
    CloseQuietly();
    // Never through a link someone left in the folder: the name is the sender's.
    // Not blocking either: a FIFO of that name would otherwise wait for a
    // reader with the receiver's lock held.
    const int fd =
        ::open(path.c_str(), flags | O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd < 0) {
        ThrowFileError(what, path, errno);
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        ThrowFileError(what, path, EINVAL);
    }
    // A file system that honours it for files would make a full write fail.
    const int status = ::fcntl(fd, F_GETFL);
    if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
        const int error = errno;
        ::close(fd);
        ThrowFileError(what, path, error);
    }
    m_fd = fd;
    m_path = path;
}

void TZmodemDiskFiles::Create(const std::string& path) {
    Open(path, O_CREAT | O_TRUNC, "create");
}

void TZmodemDiskFiles::OpenForAppend(const std::string& path) {
    Open(path, O_APPEND, "open");
}

void TZmodemDiskFiles::Append(const std::uint8_t* data, std::size_t count) {
    if (m_fd < 0) {
        ThrowFileError("write", m_path, EBADF);
    }
    while (count > 0) {
        const ssize_t written = ::write(m_fd, data, count);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            ThrowFileError("write", m_path, written < 0 ? errno : ENOSPC);
        }
        data += written;
        count -= static_cast<std::size_t>(written);
    }
}

void TZmodemDiskFiles::Close() {
    if (m_fd < 0) {
        return;
    }
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
        ThrowFileError("close", m_path, errno);
    }
}

void TZmodemDiskFiles::CloseQuietly() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

void TZmodemDiskFiles::SetModified(const std::string& path, std::int64_t secondsSince1970) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(secondsSince1970), 0}};
    if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
        ThrowFileError("date", path, errno);
    }
}

TZmodemDiskSource::~TZmodemDiskSource() {
    Close();
}

TZmodemSource::TInfo TZmodemDiskSource::Open(const std::string& path) {
    Close();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        ThrowFileError("read", path, errno);
    }
    struct stat info {};
    errno = 0;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = S_ISDIR(info.st_mode) ? EISDIR : errno != 0 ? errno : EINVAL;
        ::close(fd);
        ThrowFileError("read", path, error);
    }
    m_fd = fd;
    m_path = path;
    return {static_cast<std::uint64_t>(info.st_size), static_cast<std::int64_t>(info.st_mtime)};
}

std::size_t TZmodemDiskSource::ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t count) {
    if (m_fd < 0) {
        ThrowFileError("read", m_path, EBADF);
    }
    std::size_t got = 0;
    while (got < count) {
        const ssize_t read =
            ::pread(m_fd, data + got, count - got, static_cast<off_t>(offset + got));
        if (read < 0 && errno == EINTR) {
            continue;
        }
        if (read < 0) {
            ThrowFileError("read", m_path, errno);
        }
        if (read == 0) {
            break;
        }
        got += static_cast<std::size_t>(read);
    }
    return got;
}

void TZmodemDiskSource::Close() {
    if (m_fd >= 0) {
        ::close(m_fd); // read only: nothing to lose
        m_fd = -1;
    }
}

} // namespace telvora
