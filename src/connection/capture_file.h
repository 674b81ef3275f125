#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <string>

namespace telvora {

// Raised when the capture file cannot be created or written; the text says
// which file and the system's reason.
class ECaptureError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The capture file: the raw bytes of a Telnet session as they were taken for
// the screen. Switched on and off on the user-interface thread, appended to
// on a connection thread.
class TCaptureFile {
public:
    TCaptureFile() = default;
    ~TCaptureFile();
    TCaptureFile(const TCaptureFile&) = delete;
    TCaptureFile& operator=(const TCaptureFile&) = delete;

    // Creates the file empty (replacing one that exists) and starts capturing.
    void Open(const std::string& path);
    // Stops capturing; a failure to save the last bytes raises ECaptureError,
    // and capture is off all the same.
    void Close();
    bool IsOpen() const;
    // Appends the bytes when capturing, at once (nothing is held back in a
    // buffer that a crash would lose). On a failure capture ends and
    // ECaptureError says why.
    void Append(const std::uint8_t* data, std::size_t count);

private:
    [[noreturn]] void FailLocked(const std::string& what, int error);

    mutable std::mutex m_mutex;
    std::FILE* m_file = nullptr;
    std::string m_path;
};

} // namespace telvora
