#pragma once

#include "transfer/transfer_port.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace telvora {

// What a Y-Modem header tells of a file.
struct TSourceInfo {
    std::uint64_t size = 0;
    std::int64_t modified = 0; // seconds since 1970
};

// Where the block sender reads: one input file at a time. Every failure
// raises ETransferFileError naming the file and the reason.
class TSenderFiles {
public:
    virtual ~TSenderFiles() = default;
    // Opens a regular file for reading (closing the one open).
    virtual TSourceInfo Open(const std::string& path) = 0;
    // Up to count bytes; fewer only at the end of the file.
    virtual std::size_t Read(std::uint8_t* data, std::size_t count) = 0;
    virtual void Close() = 0;
};

// The files on disk.
class TDiskSource : public TSenderFiles {
public:
    TDiskSource() = default;
    ~TDiskSource() override;
    TDiskSource(const TDiskSource&) = delete;
    TDiskSource& operator=(const TDiskSource&) = delete;

    TSourceInfo Open(const std::string& path) override;
    std::size_t Read(std::uint8_t* data, std::size_t count) override;
    void Close() override;

private:
    std::FILE* m_file = nullptr;
    std::string m_path;
};

} // namespace telvora
