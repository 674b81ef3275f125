#include "directory/value_name_codec.h"

namespace telvora {

namespace {

constexpr char kEscape = '_';
constexpr std::string_view kHexDigits = "0123456789ABCDEF";

bool KeptAsIs(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

} // namespace

std::string EscapeValueName(std::string_view name) {
    if (name.empty()) {
        return std::string(1, kEscape);
    }
    std::string stored;
    stored.reserve(name.size());
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (KeptAsIs(byte)) {
            stored.push_back(c);
        } else {
            stored.push_back(kEscape);
            stored.push_back(kHexDigits[byte >> 4]);
            stored.push_back(kHexDigits[byte & 0x0F]);
        }
    }
    return stored;
}

std::string UnescapeValueName(std::string_view stored) {
    if (stored.size() == 1 && stored[0] == kEscape) {
        return {};
    }
    std::string name;
    name.reserve(stored.size());
    for (std::size_t i = 0; i < stored.size(); ++i) {
        if (stored[i] == kEscape && i + 2 < stored.size() && HexValue(stored[i + 1]) >= 0 &&
            HexValue(stored[i + 2]) >= 0) {
            name.push_back(
                static_cast<char>(HexValue(stored[i + 1]) * 16 + HexValue(stored[i + 2])));
            i += 2;
        } else {
            name.push_back(stored[i]);
        }
    }
    return name;
}

} // namespace telvora
