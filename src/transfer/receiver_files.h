#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "transfer/transfer_port.h"

namespace telvora {

// Where the block receiver writes: one output file at a time.
class TReceiverFiles {
public:
    virtual ~TReceiverFiles() = default;
    // Creates the file empty (replacing one that exists) and opens it.
    virtual void Create(const std::string& path) = 0;
    virtual void Append(const std::uint8_t* data, std::size_t count) = 0;
    // Closes the open file; a failure to save it raises.
    virtual void Close() = 0;
    // Closes without a word (a cancel keeps what was received as it is).
    virtual void CloseQuietly() = 0;
    virtual bool IsOpen() const = 0;
    // A regular file under the name itself, not a link nor anything else: a
    // file just closed is still where the user will look for it (its folder
    // may have been removed or renamed meanwhile).
    virtual bool IsPlainFile(const std::string& path) = 0;
    // Removes the trailing fill of a closed file: an unbroken run of 0x1A
    // and 0x0B bytes at the very end, at most 4096 bytes of it.
    virtual void StripFill(const std::string& path) = 0;
    // Cuts a closed file to exactly this length (a batch header's announced
    // size), no longer than it is.
    virtual void CutTo(const std::string& path, std::uint64_t length) = 0;
    // Makes a batch's folder where it is missing.
    virtual void MakeFolder(const std::string& /*path*/) {}
};

// The files on disk.
class TDiskFiles : public TReceiverFiles {
public:
    static constexpr std::size_t kFillWindow = 4096;

    TDiskFiles() = default;
    ~TDiskFiles() override;
    TDiskFiles(const TDiskFiles&) = delete;
    TDiskFiles& operator=(const TDiskFiles&) = delete;

    void Create(const std::string& path) override;
    void Append(const std::uint8_t* data, std::size_t count) override;
    void Close() override;
    void CloseQuietly() override;
    bool IsOpen() const override { return m_file != nullptr; }
    bool IsPlainFile(const std::string& path) override;
    void StripFill(const std::string& path) override;
    void CutTo(const std::string& path, std::uint64_t length) override;
    void MakeFolder(const std::string& path) override { telvora::MakeFolder(path); }

private:
    std::FILE* m_file = nullptr;
    std::string m_path;
};

// The length a file keeps once its trailing fill is removed, looking at no
// more than the last kFillWindow bytes: `tail` holds them.
std::size_t LengthWithoutFill(std::size_t size, const std::uint8_t* tail, std::size_t tailLength);

} // namespace telvora
