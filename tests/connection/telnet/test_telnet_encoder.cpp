#include "connection/telnet/telnet_encoder.h"
#include "connection/telnet/telnet_parser.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Encode(const Bytes& bytes, bool binary) {
    return EncodeTelnetData(bytes.data(), static_cast<int>(bytes.size()), binary);
}

TEST(TelnetEncoder, DoublesEvery255AndPadsCrUnlessBinary) {
    const Bytes data = {'A', 13, 0, 'B', 13, 10, 'C', 255, 255, 13};
    EXPECT_EQ(Encode(data, false),
              (Bytes{'A', 13, 0, 0, 'B', 13, 0, 10, 'C', 255, 255, 255, 255, 13, 0}));
    EXPECT_EQ(Encode(data, true), (Bytes{'A', 13, 0, 'B', 13, 10, 'C', 255, 255, 255, 255, 13}));
    EXPECT_TRUE(Encode({}, false).empty());
}

// A server decodes what we encode back to the same bytes: through a parser
// that plays the server's side in either mode.
class ServerSide : public TTelnetParser::Sink {
public:
    void DataAvailable(const std::uint8_t* block, int length) override {
        data.insert(data.end(), block, block + length);
    }
    void SendReply(const std::uint8_t*, int) override {}
    Bytes data;
};

TEST(TelnetEncoder, RandomDataCrossesWholeInBothModes) {
    std::mt19937 random(7);
    Bytes data(20000);
    for (std::uint8_t& byte : data) {
        // Many CR, NUL, LF and 255 among the rest.
        const unsigned pick = random() % 8;
        byte = pick == 0 ? 13 : pick == 1 ? 0 : pick == 2 ? 10 : pick == 3 ? 255 : random() % 256;
    }
    for (const bool binary : {false, true}) {
        ServerSide server;
        TTelnetParser parser(server);
        parser.SetRawMode(true);
        parser.SetRawFilter(true);
        if (binary) {
            const Bytes will = {255, 251, 0};
            parser.Feed(will.data(), 3);
        }
        const Bytes wire = Encode(data, binary);
        parser.Feed(wire.data(), static_cast<int>(wire.size()));
        parser.Flush();
        EXPECT_EQ(server.data, data) << (binary ? "binary" : "NVT");
    }
}

} // namespace
