#include "transfer/transfer_port.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace telvora {

void ThrowFileError(const std::string& what, const std::string& path, int error) {
    throw ETransferFileError("Cannot " + what + " " + path + ": " +
                             std::strerror(error != 0 ? error : EIO));
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
