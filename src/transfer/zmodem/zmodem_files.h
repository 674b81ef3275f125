#pragma once

#include "transfer/transfer_port.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace telvora {

// Where the ZMODEM receiver writes: one open file at a time. Every failure
// raises ETransferFileError naming the file and the reason.
class TZmodemFiles {
public:
    virtual ~TZmodemFiles() = default;
    // Anything under the name, a link that leads nowhere included.
    virtual bool Exists(const std::string& path) = 0;
    // A regular file under the name itself, which may be resumed or
    // overwritten: not a link (the sender names the file, not where it
    // leads), a FIFO, a device or a folder. Asked too of a file just closed:
    // it is still where the user will look for it (its folder may have been
    // removed or renamed meanwhile).
    virtual bool IsPlainFile(const std::string& path) = 0;
    // The length of a plain file; anything else raises.
    virtual std::uint64_t Length(const std::string& path) = 0;
    // Creates the file empty (replacing one that exists) and opens it.
    virtual void Create(const std::string& path) = 0;
    // Opens an existing file to write after what it holds (a resumed download).
    virtual void OpenForAppend(const std::string& path) = 0;
    virtual void Append(const std::uint8_t* data, std::size_t count) = 0;
    // Closes the open file; a failure to save it raises.
    virtual void Close() = 0;
    // Closes without a word (a cancel keeps what was received as it is).
    virtual void CloseQuietly() = 0;
    // Gives a closed file the modification time the sender named.
    virtual void SetModified(const std::string& path, std::int64_t secondsSince1970) = 0;
    // Makes the folder the files go into where it is missing.
    virtual void MakeFolder(const std::string& /*path*/) {}
};

// The files on disk.
class TZmodemDiskFiles : public TZmodemFiles {
public:
    TZmodemDiskFiles() = default;
    ~TZmodemDiskFiles() override;
    TZmodemDiskFiles(const TZmodemDiskFiles&) = delete;
    TZmodemDiskFiles& operator=(const TZmodemDiskFiles&) = delete;

    bool Exists(const std::string& path) override;
    bool IsPlainFile(const std::string& path) override;
    std::uint64_t Length(const std::string& path) override;
    void Create(const std::string& path) override;
    void OpenForAppend(const std::string& path) override;
    void Append(const std::uint8_t* data, std::size_t count) override;
    void Close() override;
    void CloseQuietly() override;
    void SetModified(const std::string& path, std::int64_t secondsSince1970) override;
    void MakeFolder(const std::string& path) override { telvora::MakeFolder(path); }

private:
    void Open(const std::string& path, int flags, const char* what);

    int m_fd = -1;
    std::string m_path;
};

// What the ZMODEM sender reads: one open file at a time, at any position
// (a receiver may ask for any stretch again). Failures raise ETransferFileError.
class TZmodemSource {
public:
    struct TInfo {
        std::uint64_t size = 0;
        std::int64_t modified = 0; // seconds since 1970
    };

    virtual ~TZmodemSource() = default;
    // Opens a regular file for reading (closing the one open).
    virtual TInfo Open(const std::string& path) = 0;
    // Up to count bytes from offset; fewer only at the end of the file.
    virtual std::size_t ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t count) = 0;
    virtual void Close() = 0;
};

class TZmodemDiskSource : public TZmodemSource {
public:
    TZmodemDiskSource() = default;
    ~TZmodemDiskSource() override;
    TZmodemDiskSource(const TZmodemDiskSource&) = delete;
    TZmodemDiskSource& operator=(const TZmodemDiskSource&) = delete;

    TInfo Open(const std::string& path) override;
    std::size_t ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t count) override;
    void Close() override;

private:
    int m_fd = -1;
    std::string m_path;
};

} // namespace telvora
