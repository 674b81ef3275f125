// Random Telnet streams, cut into receives of random size, with the raw mode
// and its filter switched at random in between. Every reply must be one the
// option table allows, and every data block must be well formed.

#include "connection/telnet/telnet_parser.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr std::uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;
const std::string kTermType = "ATASCII";
const std::string kLocation = "TNCNX";

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

bool IsSubnegotiationReply(const std::uint8_t* bytes, int length, std::uint8_t option,
                           const std::string& body) {
    const std::size_t header = option == 24 ? 4 : 3;
    if (static_cast<std::size_t>(length) != header + body.size() + 2) {
        return false;
    }
    if (bytes[0] != IAC || bytes[1] != SB || bytes[2] != option ||
        (option == 24 && bytes[3] != 0)) {
        return false;
    }
    return body.compare(0, body.size(), reinterpret_cast<const char*>(bytes + header),
                        body.size()) == 0 &&
           bytes[length - 2] == IAC && bytes[length - 1] == SE;
}

bool IsOptionReply(const std::uint8_t* bytes, int length) {
    if (length != 3 || bytes[0] != IAC) {
        return false;
    }
    const std::uint8_t verb = bytes[1];
    const std::uint8_t option = bytes[2];
    switch (option) {
    case 0:
    case 1:
    case 3:
        return verb == DO;
    case 23:
    case 24:
    case 25:
        return verb == WILL;
    default:
        return verb == DONT || verb == WONT;
    }
}

class CheckingSink : public TTelnetParser::Sink {
public:
    void DataAvailable(const std::uint8_t* block, int length) override {
        Check(length > 0 && length <= TTelnetParser::kReceiveBufferSize);
        Check(block[length] == 0);
        data.insert(data.end(), block, block + length);
    }
    void SendReply(const std::uint8_t* bytes, int length) override {
        Check(IsOptionReply(bytes, length) || IsSubnegotiationReply(bytes, length, 24, kTermType) ||
              IsSubnegotiationReply(bytes, length, 23, kLocation));
        replies.insert(replies.end(), bytes, bytes + length);
    }

    std::vector<std::uint8_t> data;
    std::vector<std::uint8_t> replies;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The same stream is also fed one byte at a time: how bytes are grouped
    // into receives must not change what comes out.
    CheckingSink sink;
    CheckingSink byteSink;
    TTelnetParser parser(sink);
    TTelnetParser byteParser(byteSink);
    parser.SetTermType(kTermType);
    byteParser.SetTermType(kTermType);
    std::size_t pos = 0;
    // Each receive starts with a control byte: low bits pick its length, the
    // top bits switch raw mode and the filter.
    while (pos < size) {
        const std::uint8_t control = data[pos++];
        const std::size_t length =
            std::min<std::size_t>(size - pos, (control & 0x3F) * 97u % 4099u);
        for (TTelnetParser* p : {&parser, &byteParser}) {
            p->SetRawMode((control & 0x80) != 0);
            p->SetRawFilter((control & 0x40) != 0);
        }
        parser.Feed(data + pos, static_cast<int>(length));
        parser.Flush();
        Check(parser.BufferedCount() == 0);
        for (std::size_t i = 0; i < length; ++i) {
            byteParser.Feed(data + pos + i, 1);
        }
        byteParser.Flush();
        pos += length;
    }
    Check(sink.data == byteSink.data);
    Check(sink.replies == byteSink.replies);
    return 0;
}
