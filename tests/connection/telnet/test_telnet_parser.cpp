#include "connection/telnet/telnet_parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

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

    TTelnetParser* parser = nullptr;
    std::string newLocation;
    Bytes data;
    std::vector<int> blockSizes;
    std::vector<Bytes> replies;
    std::vector<std::string> events;
    std::vector<std::string> traces;
};

class TelnetParser : public ::testing::Test {
protected:
    TelnetParser() { sink.parser = &parser; }

    // One receive: bytes in, then the flush that ends every receive.
    void Receive(const Bytes& bytes) {
        parser.Feed(bytes.data(), static_cast<int>(bytes.size()));
        parser.Flush();
    }

    Recorder sink;
    TTelnetParser parser{sink};
};

Bytes Str(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

TEST_F(TelnetParser, DoubledIacIsOneDataByte) {
    Receive({'A', IAC, IAC, 'B'});
    EXPECT_EQ(sink.data, (Bytes{'A', 255, 'B'}));
    EXPECT_TRUE(sink.replies.empty());
    EXPECT_EQ(sink.blockSizes, (std::vector<int>{3}));
}

TEST_F(TelnetParser, EchoNegotiationSetsLocalEcho) {
    Receive({IAC, WILL, 1});
    ASSERT_EQ(sink.replies, (std::vector<Bytes>{{IAC, DO, 1}}));
    EXPECT_FALSE(parser.LocalEcho());
    Receive({IAC, WONT, 1});
    EXPECT_EQ(sink.replies.size(), 1u);
    EXPECT_TRUE(parser.LocalEcho());
    Receive({IAC, WILL, 1});
    EXPECT_FALSE(parser.LocalEcho());
    EXPECT_EQ(sink.replies.size(), 2u) << "a repeated command is answered again";
}

TEST_F(TelnetParser, TerminalTypeIsOfferedAndSent) {
    parser.SetTermType("ATASCII");
    Receive({IAC, DO, 24});
    Receive({IAC, SB, 24, 1, IAC, SE});
    Bytes expected = {IAC, SB, 24, 0};
    for (char c : std::string("ATASCII")) {
        expected.push_back(static_cast<std::uint8_t>(c));
    }
    expected.push_back(IAC);
    expected.push_back(SE);
    EXPECT_EQ(sink.replies, (std::vector<Bytes>{{IAC, WILL, 24}, expected}));
    EXPECT_EQ(sink.events, (std::vector<std::string>{"send", "termtype", "send"}));
    EXPECT_TRUE(sink.data.empty());
}

TEST_F(TelnetParser, OtherSubnegotiationsAreIgnored) {
    Receive({IAC, SB, SE});                  // empty
    Receive({IAC, SB, 24, SE});              // one byte
    Receive({IAC, SB, 24, 0, 'x', IAC, SE}); // IS, not SEND
    Receive({IAC, SB, 31, 0, 80, 0, 24, IAC, SE});
    EXPECT_TRUE(sink.replies.empty());
    EXPECT_TRUE(sink.data.empty());
    Receive({'o', 'k'});
    EXPECT_EQ(sink.data, Str("ok")) << "parser must be back in the data state";
}

TEST_F(TelnetParser, EndlessSubnegotiationIsBounded) {
    Bytes flood(100000, 'z');
    Receive({IAC, SB, 24, 1});
    Receive(flood);
    Receive({SE, 'd'});
    // The first two bytes decide, so a long SEND request is still answered.
    ASSERT_EQ(sink.replies.size(), 1u);
    EXPECT_EQ(sink.replies[0][2], 24);
    EXPECT_EQ(sink.data, Str("d"));
}

TEST_F(TelnetParser, SendLocationLetsTheHandlerChangeTheText) {
    sink.newLocation = "Home";
    Receive({IAC, DO, 23});
    ASSERT_EQ(sink.replies.size(), 2u);
    EXPECT_EQ(sink.replies[0], (Bytes{IAC, WILL, 23}));
    EXPECT_EQ(sink.replies[1], (Bytes{IAC, SB, 23, 'H', 'o', 'm', 'e', IAC, SE}));
    EXPECT_EQ(sink.events, (std::vector<std::string>{"send", "sendloc", "send"}));
}

TEST_F(TelnetParser, DefaultLocationAndTermType) {
    Receive({IAC, DO, 23, IAC, SB, 24, 1, IAC, SE});
    ASSERT_EQ(sink.replies.size(), 3u);
    EXPECT_EQ(sink.replies[1], (Bytes{IAC, SB, 23, 'T', 'N', 'C', 'N', 'X', IAC, SE}));
    EXPECT_EQ(sink.replies[2], (Bytes{IAC, SB, 24, 0, 'V', 'T', '1', '0', '0', IAC, SE}));
}

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
            sink.replies.clear();
            sink.events.clear();
            const auto opt = static_cast<std::uint8_t>(option);
            Receive({IAC, verb, opt});
            const Bytes expected = ExpectedReply(verb, opt);
            ASSERT_FALSE(sink.replies.empty() && !expected.empty())
                << "verb " << int(verb) << " option " << option;
            if (expected.empty()) {
                EXPECT_TRUE(sink.replies.empty()) << "verb " << int(verb) << " option " << option;
            } else {
                EXPECT_EQ(sink.replies[0], expected)
                    << "verb " << int(verb) << " option " << option;
            }
            const bool location = verb == DO && option == 23;
            EXPECT_EQ(sink.replies.size(), expected.empty() ? 0u : (location ? 2u : 1u));
            const bool echoEvent = option == 1;
            EXPECT_EQ(std::count(sink.events.begin(), sink.events.end(), "localecho"),
                      echoEvent ? 1 : 0);
            EXPECT_TRUE(sink.data.empty());
        }
    }
    // DO and DONT ECHO leave LocalEcho as it was.
    Receive({IAC, WONT, 1, IAC, DO, 1, IAC, DONT, 1});
    EXPECT_TRUE(parser.LocalEcho());
}

TEST_F(TelnetParser, RefusedOptions) {
    Receive({IAC, DO, 31});
    Receive({IAC, WILL, 5});
    Receive({IAC, DONT, 5});
    Receive({IAC, WONT, 5});
    EXPECT_EQ(sink.replies, (std::vector<Bytes>{
                                {IAC, WONT, 31}, {IAC, DONT, 5}, {IAC, WONT, 5}, {IAC, WONT, 5}}));
    EXPECT_TRUE(sink.data.empty());
}

TEST_F(TelnetParser, NopAndAreYouThereAreSilent) {
    Receive({IAC, 241});
    Receive({IAC, 246});
    EXPECT_TRUE(sink.data.empty());
    EXPECT_TRUE(sink.replies.empty());
}

// Raw mode takes every byte as data even in the middle of a command; the
// command goes on once raw mode ends.
TEST_F(TelnetParser, RawModeBetweenTheHalvesOfACommand) {
    Receive({'a', IAC});
    parser.SetRawMode(true);
    Receive({DO, 24});
    EXPECT_TRUE(sink.replies.empty());
    parser.SetRawMode(false);
    Receive({DO, 24, 'b'});
    EXPECT_EQ(sink.data, (Bytes{'a', DO, 24, 'b'}));
    EXPECT_EQ(sink.replies, (std::vector<Bytes>{{IAC, WILL, 24}}));
}

TEST_F(TelnetParser, OtherCommandsAreDroppedWithATrace) {
    Receive({'a', IAC, 241, 'b', IAC, 246, 'c', IAC, 239, 'd', IAC, 65, IAC, SE});
    EXPECT_EQ(sink.data, Str("abcd"));
    EXPECT_TRUE(sink.replies.empty());
    EXPECT_EQ(std::count(sink.events.begin(), sink.events.end(), "eor"), 1);
    EXPECT_EQ(sink.traces,
              (std::vector<std::string>{"0001 Unknown F1 '\xF1'\r\n", "0002 Unknown F6 '\xF6'\r\n",
                                        "0003 TNCH_EOR\r\n", "0004 Unknown 41 'A'\r\n",
                                        "0005 Unknown F0 '\xF0'\r\n"}));
}

TEST_F(TelnetParser, StrayCommandBytesWithoutIacAreData) {
    Bytes stray;
    for (int b = 239; b <= 254; ++b) {
        stray.push_back(static_cast<std::uint8_t>(b));
    }
    Receive(stray);
    EXPECT_EQ(sink.data, stray);
    EXPECT_TRUE(sink.replies.empty());
    EXPECT_TRUE(sink.traces.empty());
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

// The receive of a whole stream in two parts, split at every point, must
// give the same data and the same replies as the stream in one piece.
TEST(TelnetParserSplit, EveryCommandSplitAtEveryPoint) {
    const Bytes stream = {'x',  IAC,  DO,  24,   IAC, SB,  24,   1,  IAC, SE,  'y',  IAC, IAC,
                          IAC,  WILL, 1,   IAC,  241, 'z', IAC,  DO, 23,  IAC, DONT, 5,   IAC,
                          WILL, 3,    IAC, WILL, 31,  IAC, WONT, 1,  IAC, 239, 13,   0,   'w'};
    Recorder whole;
    TTelnetParser reference(whole);
    reference.SetTermType("ATASCII");
    reference.Feed(stream.data(), static_cast<int>(stream.size()));
    reference.Flush();
    const Bytes atascii = Str("ATASCII");
    Bytes termType = {IAC, SB, 24, 0};
    termType.insert(termType.end(), atascii.begin(), atascii.end());
    termType.insert(termType.end(), {IAC, SE});
    ASSERT_EQ(whole.data, (Bytes{'x', 'y', 255, 'z', 13, 0, 'w'}));
    ASSERT_EQ(whole.replies, (std::vector<Bytes>{{IAC, WILL, 24},
                                                 termType,
                                                 {IAC, DO, 1},
                                                 {IAC, WILL, 23},
                                                 {IAC, SB, 23, 'T', 'N', 'C', 'N', 'X', IAC, SE},
                                                 {IAC, WONT, 5},
                                                 {IAC, DO, 3},
                                                 {IAC, DONT, 31}}));
    ASSERT_EQ(whole.traces,
              (std::vector<std::string>{"0001 Unknown F1 '\xF1'\r\n", "0002 TNCH_EOR\r\n"}));
    EXPECT_TRUE(reference.LocalEcho());

    for (std::size_t split = 0; split <= stream.size(); ++split) {
        Recorder parts;
        TTelnetParser parser(parts);
        parser.SetTermType("ATASCII");
        parser.Feed(stream.data(), static_cast<int>(split));
        parser.Flush();
        parser.Feed(stream.data() + split, static_cast<int>(stream.size() - split));
        parser.Flush();
        EXPECT_EQ(parts.data, whole.data) << "split at " << split;
        EXPECT_EQ(parts.replies, whole.replies) << "split at " << split;
        EXPECT_EQ(parts.traces, whole.traces) << "split at " << split;
        EXPECT_EQ(parser.LocalEcho(), reference.LocalEcho());
    }
}

TEST_F(TelnetParser, CommandSplitAfterIac) {
    Receive({'a', IAC});
    EXPECT_EQ(sink.data, Str("a"));
    Receive({DO, 24});
    EXPECT_EQ(sink.replies, (std::vector<Bytes>{{IAC, WILL, 24}}));
}

TEST_F(TelnetParser, RawModeWithoutFilterPassesEverything) {
    parser.SetRawMode(true);
    const Bytes bytes = {13, 0, IAC, IAC, IAC, DO, 24, 13, 10, IAC, SB, 24, 1, IAC, SE};
    Receive(bytes);
    EXPECT_EQ(sink.data, bytes);
    EXPECT_TRUE(sink.replies.empty());
}

TEST_F(TelnetParser, RawModeWithFilterDecodesTelnetAndDropsOnlyTheNulAfterACr) {
    parser.SetRawMode(true);
    parser.SetRawFilter(true);
    Receive({13, 0, 'a', IAC, IAC, 'b', IAC, DO, 24, 13, 10, 'c', 13, IAC, IAC, 13, 'd'});
    // Only the NUL after a CR is padding: CR LF, CR with an escaped 255 and
    // CR with data keep every byte. The negotiation is still answered.
    EXPECT_EQ(sink.data, (Bytes{13, 'a', 255, 'b', 13, 10, 'c', 13, 255, 13, 'd'}));
    EXPECT_EQ(sink.replies, (std::vector<Bytes>{{IAC, WILL, 24}}));
}

// A transfer gets data bytes only, also when the server negotiates in the
// middle of it (telnetd's second burst comes right after the first).
TEST_F(TelnetParser, ANegotiationBurstDuringATransferIsAnsweredAndNeverReachesIt) {
    parser.SetRawMode(true);
    parser.SetRawFilter(true);
    Receive({'C', IAC, DO, 0, IAC, WILL, 0, IAC, SB, 24, 1, IAC, SE, IAC, 241, 'D'});
    EXPECT_EQ(sink.data, Str("CD"));
    EXPECT_EQ(sink.replies,
              (std::vector<Bytes>{{IAC, WILL, 0},
                                  {IAC, DO, 0},
                                  {IAC, SB, 24, 0, 'V', 'T', '1', '0', '0', IAC, SE}}));
    EXPECT_TRUE(parser.PeerBinary());
    EXPECT_TRUE(parser.OurBinary());
}

TEST_F(TelnetParser, APeerSendingBinaryKeepsEveryByteAfterACr) {
    parser.SetRawMode(true);
    parser.SetRawFilter(true);
    Receive({IAC, WILL, 0});
    ASSERT_TRUE(parser.PeerBinary());
    Receive({'a', 13, 0, 'b', 13});
    Receive({0, 13, 10});
    EXPECT_EQ(sink.data, (Bytes{'a', 13, 0, 'b', 13, 0, 13, 10}));
    // Back to NVT: the NUL after a CR is padding again.
    sink.data.clear();
    Receive({IAC, WONT, 0, 'c', 13, 0, 'd'});
    EXPECT_FALSE(parser.PeerBinary());
    EXPECT_EQ(sink.data, (Bytes{'c', 13, 'd'}));
}

TEST_F(TelnetParser, OurBinaryDirectionFollowsDoAndDont) {
    Receive({IAC, DO, 0});
    EXPECT_TRUE(parser.OurBinary());
    Receive({IAC, DONT, 0});
    Receive({IAC, DONT, 0});
    EXPECT_FALSE(parser.OurBinary());
    // One WONT for the one change; a second DONT changes nothing.
    EXPECT_EQ(sink.replies, (std::vector<Bytes>{{IAC, WILL, 0}, {IAC, WONT, 0}}));
}

TEST_F(TelnetParser, A255BeforeAnyNegotiationHintsAtAPeerThatSpeaksNoTelnet) {
    // A raw board sending the insert-character code: 255 then a letter.
    Receive({'A', 'B', IAC, 'E', 'F', IAC, 'G'});
    EXPECT_EQ(std::count(sink.events.begin(), sink.events.end(), "rawpeer"), 1);

    TTelnetParser negotiated(sink);
    sink.events.clear();
    const Bytes bytes = {IAC, DO, 24, 'A', IAC, 'E'};
    negotiated.Feed(bytes.data(), static_cast<int>(bytes.size()));
    EXPECT_EQ(std::count(sink.events.begin(), sink.events.end(), "rawpeer"), 0);
    // Commands that exist are no hint.
    sink.events.clear();
    TTelnetParser quiet(sink);
    const Bytes commands = {IAC, 241, IAC, 246, IAC, IAC, IAC, 239};
    quiet.Feed(commands.data(), static_cast<int>(commands.size()));
    EXPECT_EQ(std::count(sink.events.begin(), sink.events.end(), "rawpeer"), 0);
}

TEST_F(TelnetParser, RawFilterStateCarriesAcrossReceivesAndModeChanges) {
    parser.SetRawMode(true);
    parser.SetRawFilter(true);
    Receive({'a', 13});
    Receive({0, 'b', IAC});
    Receive({IAC, 'c', 13});
    Receive({10, 13, 0, 0});
    EXPECT_EQ(sink.data, (Bytes{'a', 13, 'b', 255, 'c', 13, 10, 13, 0}));

    // Back to Telnet: a command is interpreted again.
    sink.data.clear();
    parser.SetRawMode(false);
    Receive({IAC, DO, 24, 'd'});
    EXPECT_EQ(sink.replies, (std::vector<Bytes>{{IAC, WILL, 24}}));
    EXPECT_EQ(sink.data, Str("d"));
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
    const Bytes second = Str("second");
    p.Feed(second.data(), 6);
    p.Flush();
    EXPECT_EQ(throwing.data, Str("firstsecond"));
}

} // namespace
