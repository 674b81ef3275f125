#include "transfer/receiver_files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace telvora {

namespace {

bool IsFill(std::uint8_t byte) {
    return byte == 0x1A || byte == 0x0B;
}

} // namespace

std::size_t LengthWithoutFill(std::size_t size, const std::uint8_t* tail, std::size_t tailLength) {
    std::size_t keep = tailLength;
    while (keep > 0 && IsFill(tail[keep - 1])) {
        --keep;
    }
    return size - tailLength + keep;
}

TDiskFiles::~TDiskFiles() {
    CloseQuietly();
}

void TDiskFiles::Create(const std::string& path) {
    CloseQuietly();
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        ThrowFileError("create", path, errno);
    }
    m_file = file;
    m_path = path;
}

void TDiskFiles::Append(const std::uint8_t* data, std::size_t count) {
    if (m_file == nullptr) {
        ThrowFileError("write", m_path, EBADF);
    }
    errno = 0;
    // Flushed at once: each block is on disk before its ACK goes out.
    if (std::fwrite(data, 1, count, m_file) != count || std::fflush(m_file) != 0) {
        ThrowFileError("write", m_path, errno);
    }
}

void TDiskFiles::Close() {
    if (m_file == nullptr) {
        return;
    }
    std::FILE* file = m_file;
    m_file = nullptr;
    errno = 0;
    if (std::fclose(file) != 0) {
        ThrowFileError("close", m_path, errno);
    }
}

void TDiskFiles::CloseQuietly() {
    if (m_file != nullptr) {
        std::fclose(m_file);
        m_file = nullptr;
    }
}

bool TDiskFiles::IsPlainFile(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

void TDiskFiles::StripFill(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        ThrowFileError("open", path, errno);
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        ThrowFileError("read", path, error);
    }
    const auto size = static_cast<std::size_t>(info.st_size);
    const std::size_t window = std::min(size, kFillWindow);
    std::vector<std::uint8_t> tail(window);
    const auto offset = static_cast<off_t>(size - window);
    if (window > 0 && ::pread(fd, tail.data(), window, offset) != static_cast<ssize_t>(window)) {
        const int error = errno;
        ::close(fd);
        ThrowFileError("read", path, error);
    }
    const std::size_t keep = LengthWithoutFill(size, tail.data(), window);
    if (keep != size && ::ftruncate(fd, static_cast<off_t>(keep)) != 0) {
        const int error = errno;
        ::close(fd);
        ThrowFileError("trim", path, error);
    }
    if (::close(fd) != 0) {
        ThrowFileError("close", path, errno);
    }
}

void TDiskFiles::CutTo(const std::string& path, std::uint64_t length) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        ThrowFileError("read", path, errno);
    }
    if (static_cast<std::uint64_t>(info.st_size) > length &&
        ::truncate(path.c_str(), static_cast<off_t>(length)) != 0) {
        ThrowFileError("trim", path, errno);
    }
}

} // namespace telvora
