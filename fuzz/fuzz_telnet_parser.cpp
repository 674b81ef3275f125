// Random Telnet streams, cut into receives of random size, with the raw mode
// and its filter switched at random in between. Every reply must be one the
// option table allows, and every data block must be well formed.
//
// The input is also taken as data that went out as Telnet data, the way the
// connection sends keys and transfer bytes (every 255 doubled, a CR as CR NUL
// unless binary): during a transfer with the filter the parser gives back
// exactly the data, in NVT mode and after the peer said WILL TRANSMIT-BINARY;
// without the filter the bytes as they came; outside a transfer the data with
// the NUL after each CR, as the screen has always been given it.

#include "connection/telnet/telnet_encoder.h"
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
        // Binary both ways; a WONT when we stop sending binary.
        return verb == DO || verb == WILL || verb == WONT;
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

// The data with a NUL after every CR: what NVT data looks like to a screen.
std::vector<std::uint8_t> WithNulAfterCr(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> padded;
    for (std::size_t i = 0; i < size; ++i) {
        padded.push_back(data[i]);
        if (data[i] == 13) {
            padded.push_back(0);
        }
    }
    return padded;
}

// Feeds the stream in receives whose lengths come from the data itself, so
// that a doubled 255 is often split between two receives.
void FeedInPieces(TTelnetParser& parser, const std::vector<std::uint8_t>& stream,
                  const std::uint8_t* lengths, std::size_t lengthCount) {
    std::size_t pos = 0;
    std::size_t piece = 0;
    while (pos < stream.size()) {
        const std::size_t length = std::min<std::size_t>(
            stream.size() - pos, lengthCount == 0 ? 1 : 1 + lengths[piece++ % lengthCount] % 16);
        parser.Feed(stream.data() + pos, static_cast<int>(length));
        pos += length;
    }
    parser.Flush();
}

void CheckEncodedData(const std::uint8_t* data, std::size_t size) {
    const int count = static_cast<int>(size);
    const std::vector<std::uint8_t> nvt = EncodeTelnetData(data, count, false);
    const std::vector<std::uint8_t> binary = EncodeTelnetData(data, count, true);
    const std::vector<std::uint8_t> original(data, data + size);
    const std::vector<std::uint8_t> willBinary = {IAC, WILL, 0};
    struct Mode {
        bool raw;
        bool filter;
        bool peerBinary;
        std::vector<std::uint8_t> expected;
    };
    const Mode modes[] = {
        {false, false, false, WithNulAfterCr(data, size)},
        {false, true, false, WithNulAfterCr(data, size)},
        {true, false, false, nvt},
        {true, true, false, original},
        {true, true, true, original},
    };
    for (const Mode& mode : modes) {
        CheckingSink sink;
        TTelnetParser parser(sink);
        parser.SetRawMode(mode.raw);
        parser.SetRawFilter(mode.filter);
        if (mode.peerBinary) {
            parser.Feed(willBinary.data(), 3);
            Check(parser.PeerBinary());
        }
        FeedInPieces(parser, mode.peerBinary ? binary : nvt, data, size);
        Check(sink.data == mode.expected);
        Check(sink.replies.size() == (mode.peerBinary ? 3u : 0u));
        Check(parser.BufferedCount() == 0);
    }
}

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
    CheckEncodedData(data, size);
    return 0;
}
