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

// A file of a session's bytes, appended as they come: the capture file (the
// raw bytes of a Telnet session as they were taken for the screen) or a
// recording (the bytes a session showed, a movie to play back). Switched on
// and off on the user-interface thread, appended to on a connection thread.
class TCaptureFile {
public:
    // kind names the file in messages ("capture file", "recording"); offNote
    // ends the message of a failed write.
    explicit TCaptureFile(std::string kind = "capture file",
                          std::string offNote = "Capture is off.")
        : m_kind(std::move(kind)), m_offNote(std::move(offNote)) {}
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

    const std::string m_kind;
    const std::string m_offNote;
    mutable std::mutex m_mutex;
    std::FILE* m_file = nullptr;
    std::string m_path;
};

} // namespace telvora
