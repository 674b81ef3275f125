#include "connection/serial/command_mode.h"

namespace telvora {

namespace {
constexpr std::uint8_t kCr = 13;
constexpr std::uint8_t kLf = 10;
constexpr std::uint8_t kBs = 8;
constexpr std::uint8_t kAtariEol = 155;
constexpr std::uint8_t kAtariBackspace = 126;
} // namespace

std::uint8_t CommandModeKey(std::uint8_t code) {
    switch (code) {
    case kAtariEol:
        return kCr;
    case kAtariBackspace:
        return kBs;
    default:
        return code;
    }
}

std::vector<std::uint8_t> TCommandModeText::Translate(const std::uint8_t* bytes,
                                                      std::size_t count) {
    std::vector<std::uint8_t> shown;
    shown.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t byte = bytes[i];
        const bool lfOfCrLf = byte == kLf && m_afterCr;
        m_afterCr = byte == kCr;
        if (lfOfCrLf) {
            continue;
        }
        if (byte == kCr || byte == kLf) {
            shown.push_back(kAtariEol);
        } else if (byte == kBs) {
            shown.push_back(kAtariBackspace);
        } else {
            shown.push_back(byte);
        }
    }
    return shown;
}

} // namespace telvora
