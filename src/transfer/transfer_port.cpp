#include "transfer/transfer_port.h"

#include <cerrno>
#include <cstring>

namespace telvora {

void ThrowFileError(const std::string& what, const std::string& path, int error) {
    throw ETransferFileError("Cannot " + what + " " + path + ": " +
                             std::strerror(error != 0 ? error : EIO));
}

} // namespace telvora
