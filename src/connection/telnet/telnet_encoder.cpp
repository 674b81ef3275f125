#include "connection/telnet/telnet_encoder.h"

#include "connection/telnet/telnet_parser.h"

std::vector<std::uint8_t> EncodeTelnetData(const std::uint8_t* bytes, int count, bool binary) {
    std::vector<std::uint8_t> out;
    if (count <= 0) {
        return out;
    }
    out.reserve(static_cast<std::size_t>(count) + static_cast<std::size_t>(count) / 8 + 2);
    for (int i = 0; i < count; ++i) {
        out.push_back(bytes[i]);
        if (bytes[i] == TTelnetParser::kIac) {
            out.push_back(TTelnetParser::kIac);
        } else if (bytes[i] == TTelnetParser::kCr && !binary) {
            out.push_back(0);
        }
    }
    return out;
}
