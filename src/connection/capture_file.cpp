#include "connection/capture_file.h"

#include <cerrno>
#include <cstring>

namespace telvora {

TCaptureFile::~TCaptureFile() {
    if (m_file != nullptr) {
        std::fclose(m_file);
    }
}

void TCaptureFile::Open(const std::string& path) {
    std::lock_guard lock(m_mutex);
    if (m_file != nullptr) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        const int error = errno;
        throw ECaptureError("Cannot create the " + m_kind + " " + path + ": " +
                            std::strerror(error != 0 ? error : EIO));
    }
    m_file = file;
    m_path = path;
}

void TCaptureFile::Close() {
    std::lock_guard lock(m_mutex);
    if (m_file == nullptr) {
        return;
    }
    std::FILE* file = m_file;
    m_file = nullptr;
    errno = 0;
    if (std::fclose(file) != 0) {
        FailLocked("save", errno);
    }
}

bool TCaptureFile::IsOpen() const {
    std::lock_guard lock(m_mutex);
    return m_file != nullptr;
}

void TCaptureFile::Append(const std::uint8_t* data, std::size_t count) {
    std::lock_guard lock(m_mutex);
    if (m_file == nullptr || count == 0) {
        return;
    }
    errno = 0;
    if (std::fwrite(data, 1, count, m_file) != count || std::fflush(m_file) != 0) {
        const int error = errno;
        std::fclose(m_file);
        m_file = nullptr;
        FailLocked("write", error);
    }
}

void TCaptureFile::FailLocked(const std::string& what, int error) {
    throw ECaptureError("Cannot " + what + " the " + m_kind + " " + m_path + ": " +
                        std::strerror(error != 0 ? error : EIO) + ". " + m_offNote);
}

} // namespace telvora
