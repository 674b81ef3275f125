#include "transfer/transfer_port.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace telvora {

void ThrowFileError(const std::string& what, const std::string& path, int error) {
    throw ETransferFileError("Cannot " + what + " " + path + ": " +
                             std::strerror(error != 0 ? error : EIO));
}

std::optional<int> PercentDone(const TTransferProgress& progress) {
    if (progress.totalBytes < 0) {
        return std::nullopt;
    }
    // Blocks count their fill: more than the size is all of it.
    if (progress.totalBytes == 0 || progress.bytes >= progress.totalBytes) {
        return 100;
    }
    return static_cast<int>(std::max<std::int64_t>(progress.bytes, 0) * 100 / progress.totalBytes);
}

void MakeFolder(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (error) {
        ThrowFileError("create the folder", path, error.value());
    }
    if (!std::filesystem::is_directory(path, error)) {
        ThrowFileError("create the folder", path, ENOTDIR);
    }
}

} // namespace telvora
