#include "transfer/batch_file_name.h"

namespace telvora {

namespace {

constexpr std::size_t kMaxNameBytes = 255;

} // namespace

std::string BatchFileName(const std::string& sent, int number) {
    // Both separators: a sender on another system names folders its own way.
    std::string name = sent.substr(
        sent.find_last_of("/\\") == std::string::npos ? 0 : sent.find_last_of("/\\") + 1);
    if (name.size() >= 2 && name[1] == ':') {
        name.erase(0, 2); // "C:NAME"
    }
    for (char& c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 32 || byte == 127) {
            c = '_';
        }
    }
    if (name.size() > kMaxNameBytes) {
        name.resize(kMaxNameBytes);
    }
    if (name.empty() || name == "." || name == "..") {
        name = "download-" + std::to_string(number);
    }
    return name;
}

} // namespace telvora
