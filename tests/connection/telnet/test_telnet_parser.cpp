#include "connection/telnet/telnet_parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Texts = std::vector<std::string>;

constexpr std::uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;

// Records everything the parser asks for, in order.
class Recorder : public TTelnetParser::Sink {
public:
    void DataAvailable(const std::uint8_t* block, int length) override {
        EXPECT_GT(length, 0);
        EXPECT_LE(length, TTelnetParser::kReceiveBufferSize);
        EXPECT_EQ(block[length], 0) << "block must be followed by a 0 byte";
        data.insert(data.end(), block, block + length);
        blockSizes.push_back(length);
        events.push_back("data");
    }
    void SendReply(const std::uint8_t* bytes, int length) override {
        replies.emplace_back(bytes, bytes + length);
        events.push_back("send");
    }
    void EndOfRecord() override { events.push_back("eor"); }
    void SendLocRequested() override {
        events.push_back("sendloc");
        if (parser != nullptr && !newLocation.empty()) {
            parser->SetLocation(newLocation);
        }
    }
    void TermTypeRequested() override { events.push_back("termtype"); }
    void LocalEchoChanged() override { events.push_back("localecho"); }
    void RawPeerSuspected() override { events.push_back("rawpeer"); }
    void Trace(const std::string& number, const std::string& text) override {
        traces.push_back(number + text);
    }
    long Count(const char* event) const { return std::count(events.begin(), events.end(), event); }

    TTelnetParser* parser = nullptr;
    std::string newLocation;
    Bytes data;
    std::vector<int> blockSizes;
    std::vector<Bytes> replies;
    Texts events;
    Texts traces;
};

// One receive: bytes in, then the flush that ends every receive.
void ReceiveOn(TTelnetParser& parser, const Bytes& bytes) {
    parser.Feed(bytes.data(), static_cast<int>(bytes.size()));
    parser.Flush();
}

class TelnetParser : public ::testing::Test {
protected:
    TelnetParser() { sink.parser = &parser; }
    void Receive(const Bytes& bytes) { ReceiveOn(parser, bytes); }

    Recorder sink;
    TTelnetParser parser{sink};
};

Bytes Str(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes Range(int first, int last) {
    Bytes bytes;
    for (int b = first; b <= last; ++b) {
        bytes.push_back(static_cast<std::uint8_t>(b));
    }
    return bytes;
}

// IAC SB, the head (option and any IS byte), the text, IAC SE.
Bytes Sub(const Bytes& head, const std::string& text) {
    Bytes bytes = head;
    bytes.insert(bytes.begin(), {IAC, SB});
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back(IAC);
    bytes.push_back(SE);
    return bytes;
}

// A fresh parser gets the receives in turn; afterwards everything it handed
// out and its states must be exactly these.
struct ReceiveCase {
    const char* name = "";
    std::vector<Bytes> receives{};
    Bytes data{};
    std::vector<Bytes> replies{};
    Texts traces{};
    // The mode of each receive: T Telnet, R raw, F raw with the filter; T
    // for receives past its end.
    std::string modes{};
    std::string termType{};        // empty: the parser's default
    std::string newLocation{};     // what the location handler puts in, if anything
    Texts events{};                // checked when not empty
    std::vector<int> blockSizes{}; // checked when not empty
    long endOfRecords = 0;
    long rawPeerHints = 0;
    bool localEcho = false;
    bool peerBinary = false;
    bool ourBinary = false;
};

void PrintTo(const ReceiveCase& test, std::ostream* out) {
    *out << test.name;
}

class TelnetParserReceives : public TelnetParser,
                             public ::testing::WithParamInterface<ReceiveCase> {};

TEST_P(TelnetParserReceives, HandOutExactlyThis) {
    const ReceiveCase& test = GetParam();
    if (!test.termType.empty()) {
        parser.SetTermType(test.termType);
    }
    sink.newLocation = test.newLocation;
    for (std::size_t i = 0; i < test.receives.size(); ++i) {
        const char mode = i < test.modes.size() ? test.modes[i] : 'T';
        parser.SetRawMode(mode != 'T');
        parser.SetRawFilter(mode == 'F');
        Receive(test.receives[i]);
    }
    EXPECT_EQ(sink.data, test.data);
    EXPECT_EQ(sink.replies, test.replies);
    EXPECT_EQ(sink.traces, test.traces);
    if (!test.events.empty()) {
        EXPECT_EQ(sink.events, test.events);
    }
    if (!test.blockSizes.empty()) {
        EXPECT_EQ(sink.blockSizes, test.blockSizes);
    }
    EXPECT_EQ(sink.Count("eor"), test.endOfRecords);
    EXPECT_EQ(sink.Count("rawpeer"), test.rawPeerHints);
    EXPECT_EQ(parser.LocalEcho(), test.localEcho);
    EXPECT_EQ(parser.PeerBinary(), test.peerBinary);
    EXPECT_EQ(parser.OurBinary(), test.ourBinary);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, TelnetParserReceives,
    ::testing::Values(
        ReceiveCase{.name = "DoubledIacIsOneDataByte",
                    .receives = {{'A', IAC, IAC, 'B'}},
                    .data = {'A', 255, 'B'},
                    .blockSizes = {3}},
        ReceiveCase{.name = "WontEchoTurnsLocalEchoOn",
                    .receives = {{IAC, WILL, 1}, {IAC, WONT, 1}},
                    .replies = {{IAC, DO, 1}},
                    .localEcho = true},
        // A repeated command is answered again.
        ReceiveCase{.name = "WillEchoIsAnsweredEachTimeAndTurnsLocalEchoOff",
                    .receives = {{IAC, WILL, 1}, {IAC, WONT, 1}, {IAC, WILL, 1}},
                    .replies = {{IAC, DO, 1}, {IAC, DO, 1}}},
        ReceiveCase{.name = "TerminalTypeIsOfferedAndSent",
                    .receives = {{IAC, DO, 24}, {IAC, SB, 24, 1, IAC, SE}},
                    .replies = {{IAC, WILL, 24}, Sub({24, 0}, "ATASCII")},
                    .termType = "ATASCII",
                    .events = {"send", "termtype", "send"}},
        ReceiveCase{.name = "OtherSubnegotiationsAreIgnored",
                    .receives = {{IAC, SB, SE},                  // empty
                                 {IAC, SB, 24, SE},              // one byte
                                 {IAC, SB, 24, 0, 'x', IAC, SE}, // IS, not SEND
                                 {IAC, SB, 31, 0, 80, 0, 24, IAC, SE},
                                 {'o', 'k'}},
                    .data = Str("ok")},
        // The first two bytes decide, so a long SEND request is still answered.
        ReceiveCase{.name = "EndlessSubnegotiationIsBounded",
                    .receives = {{IAC, SB, 24, 1}, Bytes(100000, 'z'), {SE, 'd'}},
                    .data = Str("d"),
                    .replies = {Sub({24, 0}, "VT100")}},
        ReceiveCase{.name = "SendLocationLetsTheHandlerChangeTheText",
                    .receives = {{IAC, DO, 23}},
                    .replies = {{IAC, WILL, 23}, Sub({23}, "Home")},
                    .newLocation = "Home",
                    .events = {"send", "sendloc", "send"}},
        ReceiveCase{.name = "DefaultLocationAndTermType",
                    .receives = {{IAC, DO, 23, IAC, SB, 24, 1, IAC, SE}},
                    .replies = {{IAC, WILL, 23}, Sub({23}, "TNCNX"), Sub({24, 0}, "VT100")}},
        ReceiveCase{.name = "RefusedOptions",
                    .receives = {{IAC, DO, 31}, {IAC, WILL, 5}, {IAC, DONT, 5}, {IAC, WONT, 5}},
                    .replies = {{IAC, WONT, 31}, {IAC, DONT, 5}, {IAC, WONT, 5}, {IAC, WONT, 5}}},
        // NOP and AYT included: neither is answered.
        ReceiveCase{
            .name = "OtherCommandsAreDroppedWithATrace",
            .receives = {{'a', IAC, 241, 'b', IAC, 246, 'c', IAC, 239, 'd', IAC, 65, IAC, SE}},
            .data = Str("abcd"),
            .traces = {"0001 Unknown F1 '\xF1'\r\n", "0002 Unknown F6 '\xF6'\r\n",
                       "0003 TNCH_EOR\r\n", "0004 Unknown 41 'A'\r\n",
                       "0005 Unknown F0 '\xF0'\r\n"},
            .endOfRecords = 1,
            .rawPeerHints = 1},
        ReceiveCase{.name = "StrayCommandBytesWithoutIacAreData",
                    .receives = {Range(239, 254)},
                    .data = Range(239, 254)},
        ReceiveCase{.name = "RawModeWithoutFilterPassesEverything",
                    .receives = {{13, 0, IAC, IAC, IAC, DO, 24, 13, 10, IAC, SB, 24, 1, IAC, SE}},
                    .data = {13, 0, IAC, IAC, IAC, DO, 24, 13, 10, IAC, SB, 24, 1, IAC, SE},
                    .modes = "R"},
        // Only the NUL after a CR is padding: CR LF, CR with an escaped 255 and
        // CR with data keep every byte. The negotiation is still answered.
        ReceiveCase{.name = "RawModeWithFilterDecodesTelnetAndDropsOnlyTheNulAfterACr",
                    .receives = {{13, 0, 'a', IAC, IAC, 'b', IAC, DO, 24, 13, 10, 'c', 13, IAC, IAC,
                                  13, 'd'}},
                    .data = {13, 'a', 255, 'b', 13, 10, 'c', 13, 255, 13, 'd'},
                    .replies = {{IAC, WILL, 24}},
                    .modes = "F"},
        // A transfer gets data bytes only, also when the server negotiates in
        // the middle of it (telnetd's second burst comes right after the first).
        ReceiveCase{
            .name = "ANegotiationBurstDuringATransferIsAnsweredAndNeverReachesIt",
            .receives = {{'C', IAC, DO, 0, IAC, WILL, 0, IAC, SB, 24, 1, IAC, SE, IAC, 241, 'D'}},
            .data = Str("CD"),
            .replies = {{IAC, WILL, 0}, {IAC, DO, 0}, Sub({24, 0}, "VT100")},
            .traces = {"0001 Unknown F1 '\xF1'\r\n"},
            .modes = "F",
            .peerBinary = true,
            .ourBinary = true},
        // Back to NVT at the end: the NUL after a CR is padding again.
        ReceiveCase{.name = "APeerSendingBinaryKeepsEveryByteAfterACr",
                    .receives = {{IAC, WILL, 0},
                                 {'a', 13, 0, 'b', 13},
                                 {0, 13, 10},
                                 {IAC, WONT, 0, 'c', 13, 0, 'd'}},
                    .data = {'a', 13, 0, 'b', 13, 0, 13, 10, 'c', 13, 'd'},
                    .replies = {{IAC, DO, 0}},
                    .modes = "FFFF"},
        // Back to Telnet at the end: a command is interpreted again.
        ReceiveCase{
            .name = "RawFilterStateCarriesAcrossReceivesAndModeChanges",
            .receives =
                {{'a', 13}, {0, 'b', IAC}, {IAC, 'c', 13}, {10, 13, 0, 0}, {IAC, DO, 24, 'd'}},
            .data = {'a', 13, 'b', 255, 'c', 13, 10, 13, 0, 'd'},
            .replies = {{IAC, WILL, 24}},
            .modes = "FFFFT"},
        // One WONT for the one change; a second DONT changes nothing.
        ReceiveCase{.name = "OurBinaryDirectionFollowsDoAndDont",
                    .receives = {{IAC, DO, 0}, {IAC, DONT, 0}, {IAC, DONT, 0}},
                    .replies = {{IAC, WILL, 0}, {IAC, WONT, 0}}},
        // A raw board sending the insert-character code: 255 then a letter.
        ReceiveCase{.name = "A255BeforeAnyNegotiationHintsAtAPeerThatSpeaksNoTelnet",
                    .receives = {{'A', 'B', IAC, 'E', 'F', IAC, 'G'}},
                    .data = Str("ABF"),
                    .traces = {"0001 Unknown 45 'E'\r\n", "0002 Unknown 47 'G'\r\n"},
                    .rawPeerHints = 1},
        ReceiveCase{.name = "A255AfterANegotiationIsNoHint",
                    .receives = {{IAC, DO, 24, 'A', IAC, 'E'}},
                    .data = Str("A"),
                    .replies = {{IAC, WILL, 24}},
                    .traces = {"0001 Unknown 45 'E'\r\n"}},
        ReceiveCase{.name = "CommandsThatExistAreNoHint",
                    .receives = {{IAC, 241, IAC, 246, IAC, IAC, IAC, 239}},
                    .data = {255},
                    .traces = {"0001 Unknown F1 '\xF1'\r\n", "0002 Unknown F6 '\xF6'\r\n",
                               "0003 TNCH_EOR\r\n"},
                    .endOfRecords = 1}),
    [](const ::testing::TestParamInfo<ReceiveCase>& info) { return std::string(info.param.name); });

// What the table says for (verb, option): the reply bytes (empty for none).
Bytes ExpectedReply(std::uint8_t verb, std::uint8_t option) {
    switch (option) {
    case 0:
        // Binary both ways; a DONT is answered only when we were sending
        // binary, as after the DO that comes before it in the table's order.
        return verb == WILL   ? Bytes{IAC, DO, option}
               : verb == DO   ? Bytes{IAC, WILL, option}
               : verb == DONT ? Bytes{IAC, WONT, option}
                              : Bytes{};
    case 1:
    case 3:
        return verb == WILL ? Bytes{IAC, DO, option} : Bytes{};
    case 23:
    case 24:
    case 25:
        return verb == DO ? Bytes{IAC, WILL, option} : Bytes{};
    default:
        return Bytes{IAC, verb == WILL ? DONT : WONT, option};
    }
}

TEST_F(TelnetParser, EveryCellOfTheOptionTable) {
    for (const std::uint8_t verb : {WILL, WONT, DO, DONT}) {
        for (int option = 0; option <= 255; ++option) {
            SCOPED_TRACE("verb " + std::to_string(verb) + " option " + std::to_string(option));
            sink.replies.clear();
            sink.events.clear();
            const auto opt = static_cast<std::uint8_t>(option);
            Receive({IAC, verb, opt});
            const Bytes expected = ExpectedReply(verb, opt);
            const bool location = verb == DO && option == 23;
            ASSERT_EQ(sink.replies.size(), expected.empty() ? 0u : (location ? 2u : 1u));
            if (!expected.empty()) {
                EXPECT_EQ(sink.replies[0], expected);
            }
            EXPECT_EQ(sink.Count("localecho"), option == 1 ? 1 : 0);
            EXPECT_TRUE(sink.data.empty());
        }
    }
    // DO and DONT ECHO leave LocalEcho as it was.
    Receive({IAC, WONT, 1, IAC, DO, 1, IAC, DONT, 1});
    EXPECT_TRUE(parser.LocalEcho());
}

// Raw mode takes every byte as data even in the middle of a command; the
// command goes on once raw mode ends. The data before the IAC is not held
// back for the rest of the command.
TEST_F(TelnetParser, RawModeBetweenTheHalvesOfACommand) {
    Receive({'a', IAC});
    EXPECT_EQ(sink.data, Str("a"));
    parser.SetRawMode(true);
    Receive({DO, 24});
    EXPECT_TRUE(sink.replies.empty());
    parser.SetRawMode(false);
    Receive({DO, 24, 'b'});
    EXPECT_EQ(sink.data, (Bytes{'a', DO, 24, 'b'}));
    EXPECT_EQ(sink.replies, (std::vector<Bytes>{{IAC, WILL, 24}}));
}

TEST_F(TelnetParser, FullBufferIsDeliveredAtOnceThenTheRest) {
    Bytes bytes(5000);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i % 255);
    }
    Receive(bytes);
    EXPECT_EQ(sink.blockSizes, (std::vector<int>{2049, 2049, 902}));
    EXPECT_EQ(sink.data, bytes);
    parser.Flush();
    EXPECT_EQ(sink.blockSizes.size(), 3u) << "an empty flush delivers nothing";
}

TEST_F(TelnetParser, FailingReceiverLosesOnlyItsOwnBlock) {
    class Throwing : public Recorder {
    public:
        void DataAvailable(const std::uint8_t* block, int length) override {
            Recorder::DataAvailable(block, length);
            if (++calls == 1) {
                throw std::runtime_error("FIFO is too full!");
            }
        }
        int calls = 0;
    } throwing;
    TTelnetParser p(throwing);
    const Bytes first = Str("first");
    p.Feed(first.data(), 5);
    EXPECT_THROW(p.Flush(), std::runtime_error);
    EXPECT_EQ(p.BufferedCount(), 0);
    ReceiveOn(p, Str("second"));
    EXPECT_EQ(throwing.data, Str("firstsecond"));
}

// The receive of a whole stream in two parts, split at every point, must
// give the same data and the same replies as the stream in one piece.
TEST(TelnetParserSplit, EveryCommandSplitAtEveryPoint) {
    const Bytes stream = {'x',  IAC,  DO,  24,   IAC, SB,  24,   1,  IAC, SE,  'y',  IAC, IAC,
                          IAC,  WILL, 1,   IAC,  241, 'z', IAC,  DO, 23,  IAC, DONT, 5,   IAC,
                          WILL, 3,    IAC, WILL, 31,  IAC, WONT, 1,  IAC, 239, 13,   0,   'w'};
    Recorder whole;
    TTelnetParser reference(whole);
    reference.SetTermType("ATASCII");
    ReceiveOn(reference, stream);
    ASSERT_EQ(whole.data, (Bytes{'x', 'y', 255, 'z', 13, 0, 'w'}));
    ASSERT_EQ(whole.replies, (std::vector<Bytes>{{IAC, WILL, 24},
                                                 Sub({24, 0}, "ATASCII"),
                                                 {IAC, DO, 1},
                                                 {IAC, WILL, 23},
                                                 Sub({23}, "TNCNX"),
                                                 {IAC, WONT, 5},
                                                 {IAC, DO, 3},
                                                 {IAC, DONT, 31}}));
    ASSERT_EQ(whole.traces, (Texts{"0001 Unknown F1 '\xF1'\r\n", "0002 TNCH_EOR\r\n"}));
    EXPECT_TRUE(reference.LocalEcho());

    for (std::size_t split = 0; split <= stream.size(); ++split) {
        SCOPED_TRACE("split at " + std::to_string(split));
        Recorder parts;
        TTelnetParser parser(parts);
        parser.SetTermType("ATASCII");
        ReceiveOn(parser, Bytes(stream.begin(), stream.begin() + static_cast<long>(split)));
        ReceiveOn(parser, Bytes(stream.begin() + static_cast<long>(split), stream.end()));
        EXPECT_EQ(parts.data, whole.data);
        EXPECT_EQ(parts.replies, whole.replies);
        EXPECT_EQ(parts.traces, whole.traces);
        EXPECT_EQ(parser.LocalEcho(), reference.LocalEcho());
    }
}

} // namespace
