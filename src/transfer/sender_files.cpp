#include "transfer/sender_files.h"

#include <cerrno>
#include <sys/stat.h>

namespace telvora {

TDiskSource::~TDiskSource() {
    Close();
}

TSourceInfo TDiskSource::Open(const std::string& path) {
    Close();
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        ThrowFileError("read", path, errno);
    }
    struct stat status {};
    if (fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode)) {
        const int error = S_ISDIR(status.st_mode) ? EISDIR : errno != 0 ? errno : EINVAL;
        std::fclose(file);
        ThrowFileError("read", path, error);
    }
    m_file = file;
    m_path = path;
    return {static_cast<std::uint64_t>(status.st_size), static_cast<std::int64_t>(status.st_mtime)};
}

std::size_t TDiskSource::Read(std::uint8_t* data, std::size_t count) {
    if (m_file == nullptr) {
        ThrowFileError("read", m_path, EBADF);
    }
    errno = 0;
    const std::size_t got = std::fread(data, 1, count, m_file);
    if (got < count && std::ferror(m_file)) {
        ThrowFileError("read", m_path, errno);
    }
    return got;
}

void TDiskSource::Close() {
    if (m_file != nullptr) {
        std::fclose(m_file); // read only: nothing to lose
        m_file = nullptr;
    }
}

} // namespace telvora
