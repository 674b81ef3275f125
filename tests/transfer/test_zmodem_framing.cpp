// ZMODEM framing: the CRCs, headers and subpackets our encoder writes read
// back whole by our decoder for every byte value and every split of the
// stream, damage is refused, escaping follows the receiver's wishes, and the
// start of a remote transfer is found inside screen text.
#include "transfer/zmodem/zmodem_crc.h"
#include "transfer/zmodem/zmodem_decoder.h"
#include "transfer/zmodem/zmodem_encoder.h"
#include "transfer/zmodem/zmodem_start_detector.h"

#include "zmodem_peer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

using namespace telvora;
using namespace telvora::zmodem;
using telvora::test::FeedAll;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Every byte value, then runs of those ZMODEM escapes and of CR after '@',
// high bits too.
Bytes AllByteValues() {
    const std::string text = telvora::test::AwkwardContent() + "\xc0\x8d";
    return {text.begin(), text.end()};
}

// A ZDATA frame with the subpacket `payload` behind it.
Bytes DataFrame(TZmodemEncoder& encoder, const Bytes& payload, bool crc32,
                TSubpacketEnd end = TSubpacketEnd::CrcW) {
    Bytes out;
    encoder.BinaryHeader(out, kData, PositionHeader(0x12345678), crc32);
    encoder.Subpacket(out, payload.data(), payload.size(), end, crc32);
    return out;
}

TEST(ZmodemCrc, MatchesTheKnownCheckValues) {
    const std::string check = "123456789";
    const auto* data = reinterpret_cast<const std::uint8_t*>(check.data());
    EXPECT_EQ(Crc16(data, check.size()), 0x31C3);
    EXPECT_EQ(Crc32(data, check.size()), 0xCBF43926u);
}

// The ZRINIT (full duplex, overlapped I/O, CRC-32) is what lrzsz's rz sends;
// ZACK and ZFIN end without the XON.
TEST(ZmodemFraming, AHexHeaderIsSevenBitTextWithItsCrcAndLineEnd) {
    const struct {
        TFrameType type;
        THeaderBytes bytes;
        std::string text;
    } headers[] = {{kRInit, {0, 0, 0, 0x23}, "B0100000023be50\r\x8a\x11"},
                   {kAck, PositionHeader(1), "B03010000009866\r\x8a"},
                   {kFin, PositionHeader(0), "B0800000000022d\r\x8a"}};
    for (const auto& [type, bytes, text] : headers) {
        TZmodemEncoder encoder;
        Bytes out;
        encoder.HexHeader(out, type, bytes);
        EXPECT_EQ(std::string(out.begin(), out.end()), "**\x18" + text);
        TZmodemDecoder decoder;
        const auto events = FeedAll(decoder, out);
        ASSERT_EQ(events.size(), 1u) << text;
        EXPECT_EQ(events[0].kind, TZmodemEvent::Kind::Header);
        EXPECT_EQ(events[0].type, type);
        EXPECT_EQ(events[0].encoding, THeaderEncoding::Hex);
        EXPECT_EQ(events[0].bytes, bytes);
    }
}

TEST(ZmodemFraming, EveryByteValueSurvivesBothCrcsSplitAtEveryPoint) {
    for (bool crc32 : {false, true}) {
        TZmodemEncoder encoder;
        const Bytes payload = AllByteValues();
        const Bytes frame = DataFrame(encoder, payload, crc32);
        for (std::uint8_t byte : frame) {
            // Nothing a modem or Telnet server acts on crosses unescaped; the
            // only XON is the one after ZCRCW.
            EXPECT_TRUE(byte != 0x10 && byte != 0x90 && byte != 0x91 && byte != 0x93);
        }
        EXPECT_EQ(std::count(frame.begin(), frame.end(), kXon), 1);
        for (std::size_t split = 0; split <= frame.size(); split += 7) {
            TZmodemDecoder decoder;
            std::vector<Bytes> data;
            auto events = FeedAll(decoder, Bytes(frame.begin(), frame.begin() + split), &data);
            auto rest = FeedAll(decoder, Bytes(frame.begin() + split, frame.end()), &data);
            events.insert(events.end(), rest.begin(), rest.end());
            ASSERT_EQ(events.size(), 2u) << "split at " << split;
            EXPECT_EQ(events[0].kind, TZmodemEvent::Kind::Header);
            EXPECT_EQ(events[0].type, kData);
            EXPECT_EQ(HeaderPosition(events[0].bytes), 0x12345678u);
            EXPECT_EQ(events[0].encoding, crc32 ? THeaderEncoding::Bin32 : THeaderEncoding::Bin16);
            EXPECT_EQ(events[1].kind, TZmodemEvent::Kind::Subpacket);
            EXPECT_EQ(events[1].end, TSubpacketEnd::CrcW);
            EXPECT_EQ(data[1], payload);
        }
    }
}

TEST(ZmodemFraming, ACarriageReturnIsEscapedOnlyAfterAnAt) {
    TZmodemEncoder encoder;
    Bytes out;
    const Bytes payload{'A', '\r', '@', '\r', 0xC0, 0x8D, '\r'};
    encoder.Subpacket(out, payload.data(), payload.size(), TSubpacketEnd::CrcE, false);
    const Bytes expected{'A', '\r', '@', kDle, 'M', 0xC0, kDle, 0xCD, '\r'};
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 9), expected);
}

TEST(ZmodemFraming, EscapeControlsLeavesNoControlCharacterBareButTheFrameEnd) {
    TZmodemEncoder encoder;
    encoder.SetEscapeControls(true);
    const Bytes payload = AllByteValues();
    Bytes out;
    encoder.BinaryHeader(out, kData, PositionHeader(0), true);
    const std::size_t headerEnd = out.size();
    encoder.Subpacket(out, payload.data(), payload.size(), TSubpacketEnd::CrcG, true);
    for (std::size_t i = 3; i < out.size(); ++i) {
        if (out[i - 1] == kDle || out[i] == kDle) {
            continue;
        }
        EXPECT_NE(out[i] & 0x60, 0) << "bare control byte " << int(out[i]) << " at " << i;
    }
    TZmodemDecoder decoder;
    std::vector<Bytes> data;
    const auto events = FeedAll(decoder, out, &data);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(data[1], payload);
    EXPECT_GT(out.size() - headerEnd, payload.size() + 64) << "controls were escaped";
}

TEST(ZmodemFraming, StreamedSubpacketsFollowOneHeaderUntilTheFrameEnds) {
    TZmodemEncoder encoder;
    Bytes out;
    encoder.BinaryHeader(out, kData, PositionHeader(0), true);
    const Bytes a(1000, 'a'), b(8192, 'b'), c(0, 'c');
    encoder.Subpacket(out, a.data(), a.size(), TSubpacketEnd::CrcG, true);
    encoder.Subpacket(out, b.data(), b.size(), TSubpacketEnd::CrcQ, true);
    encoder.Subpacket(out, c.data(), c.size(), TSubpacketEnd::CrcE, true);
    encoder.BinaryHeader(out, kEof, PositionHeader(9192), true);
    TZmodemDecoder decoder;
    std::vector<Bytes> data;
    const auto events = FeedAll(decoder, out, &data);
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(data[1], a);
    EXPECT_EQ(events[2].end, TSubpacketEnd::CrcQ);
    EXPECT_EQ(data[2], b);
    EXPECT_EQ(data[3], c);
    EXPECT_EQ(events[4].type, kEof);
    EXPECT_EQ(HeaderPosition(events[4].bytes), 9192u);
}

TEST(ZmodemCrc, EightBytesAStepGiveWhatOneByteAStepGives) {
    const Bytes bytes = AllByteValues();
    const auto check = [&](std::uint32_t crc, std::size_t start, std::size_t length) {
        std::uint32_t slow = crc;
        for (std::size_t i = 0; i < length; ++i) {
            slow = Crc32Update(slow, bytes[start + i]);
        }
        EXPECT_EQ(Crc32Run(crc, bytes.data() + start, length), slow) << start << "+" << length;
    };
    for (std::size_t start : {0u, 1u, 3u, 7u}) {
        for (std::size_t length = 0; length + start <= 64; ++length) {
            check(kCrc32Start, start, length);
        }
    }
    check(0x12345678u, 0, bytes.size());
}

// What a receiver does: runs of plain data at once, the rest byte by byte.
std::vector<TZmodemEvent> FeedWithRuns(TZmodemDecoder& decoder, const Bytes& bytes,
                                       std::size_t chunk, std::vector<Bytes>* data) {
    std::vector<TZmodemEvent> events;
    for (std::size_t from = 0; from < bytes.size(); from += chunk) {
        const std::size_t end = std::min(bytes.size(), from + chunk);
        std::size_t at = from;
        while (at < end) {
            const std::size_t run = decoder.FeedDataRun(bytes.data() + at, end - at);
            if (run > 0) {
                at += run;
                continue;
            }
            const TZmodemEvent event = decoder.Feed(bytes[at++]);
            if (event.kind != TZmodemEvent::Kind::None) {
                events.push_back(event);
                data->push_back(decoder.Data());
            }
        }
    }
    return events;
}

TEST(ZmodemDecoder, RunsOfDataReadAsByteByByteReadsThemWhateverComes) {
    std::mt19937 random(7);
    TZmodemEncoder encoder;
    for (int round = 0; round < 300; ++round) {
        // Frames of every kind, some damaged, with noise, flow control, CAN
        // runs and overlong subpackets between and inside them.
        Bytes stream;
        for (int piece = 0; piece < 6; ++piece) {
            Bytes payload(random() % 9000);
            for (auto& byte : payload) {
                byte =
                    static_cast<std::uint8_t>(random() % 5 == 0 ? 0x18 + random() % 3 : random());
            }
            const bool crc32 = random() % 2 == 0;
            const TSubpacketEnd ends[] = {TSubpacketEnd::CrcE, TSubpacketEnd::CrcG,
                                          TSubpacketEnd::CrcQ, TSubpacketEnd::CrcW};
            Bytes frame = DataFrame(encoder, payload, crc32, ends[random() % 4]);
            if (random() % 3 == 0) {
                frame[random() % frame.size()] ^= static_cast<std::uint8_t>(1u << (random() % 8));
            }
            if (random() % 4 == 0) {
                frame.insert(frame.begin() + static_cast<long>(random() % frame.size()),
                             {0x11, 0x93, 0x18, 0x18, 0x18, 0x18, 0x18});
            }
            stream.insert(stream.end(), frame.begin(), frame.end());
        }
        TZmodemDecoder byteByByte;
        TZmodemDecoder withRuns;
        std::vector<Bytes> expectedData;
        std::vector<Bytes> runData;
        const auto expected = FeedAll(byteByByte, stream, &expectedData);
        const auto got = FeedWithRuns(withRuns, stream, 1 + random() % 5000, &runData);
        ASSERT_EQ(got.size(), expected.size()) << "round " << round;
        for (std::size_t i = 0; i < got.size(); ++i) {
            ASSERT_EQ(got[i].kind, expected[i].kind) << "round " << round << " event " << i;
            ASSERT_EQ(runData[i], expectedData[i]) << "round " << round << " event " << i;
        }
    }
}

TEST(ZmodemDecoder, AnyFlippedBitIsRefused) {
    for (bool crc32 : {false, true}) {
        TZmodemEncoder encoder;
        const Bytes payload = AllByteValues();
        const Bytes frame = DataFrame(encoder, payload, crc32);
        for (std::size_t at = 0; at + 1 < frame.size(); at += 13) {
            for (int bit : {0, 5}) {
                Bytes damaged = frame;
                damaged[at] ^= static_cast<std::uint8_t>(1u << bit);
                TZmodemDecoder decoder;
                std::vector<Bytes> data;
                const auto events = FeedAll(decoder, damaged, &data);
                for (std::size_t i = 0; i < events.size(); ++i) {
                    if (events[i].kind == TZmodemEvent::Kind::Subpacket) {
                        EXPECT_EQ(data[i], payload) << "a damaged subpacket passed, byte " << at;
                    }
                    if (events[i].kind == TZmodemEvent::Kind::Header) {
                        EXPECT_EQ(events[i].type, kData);
                        EXPECT_EQ(HeaderPosition(events[i].bytes), 0x12345678u);
                    }
                }
            }
        }
    }
}

TEST(ZmodemDecoder, AHexHeaderWithAWrongDigitIsBad) {
    TZmodemEncoder encoder;
    Bytes out;
    encoder.HexHeader(out, kRPos, PositionHeader(4096));
    out[8] = out[8] == '0' ? '1' : '0';
    TZmodemDecoder decoder;
    const auto events = FeedAll(decoder, out);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, TZmodemEvent::Kind::BadHeader);
}

TEST(ZmodemDecoder, AnOverlongSubpacketIsBadAndHoldsNoMoreThanTheLimit) {
    TZmodemEncoder encoder;
    const Bytes payload(TZmodemDecoder::kMaxSubpacket + 10, 'x');
    const Bytes frame = DataFrame(encoder, payload, true);
    TZmodemDecoder decoder;
    const auto events = FeedAll(decoder, frame);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().kind, TZmodemEvent::Kind::BadSubpacket);
    EXPECT_LE(decoder.Data().size(), TZmodemDecoder::kMaxSubpacket);
}

TEST(ZmodemDecoder, FiveCansCancelButFourDoNot) {
    TZmodemDecoder decoder;
    EXPECT_TRUE(FeedAll(decoder, Bytes(4, kCan)).empty());
    EXPECT_TRUE(FeedAll(decoder, Bytes{'x'}).empty());
    const auto events = FeedAll(decoder, Bytes(5, kCan));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, TZmodemEvent::Kind::Cancel);
}

TEST(ZmodemDecoder, RawFlowControlAndTextBetweenFramesAreIgnored) {
    TZmodemEncoder encoder;
    Bytes stream{'h', 'e', 'l', 'l', 'o', '\r', '\n', '*', kXon, '*'};
    encoder.HexHeader(stream, kRqInit, PositionHeader(0));
    Bytes frame = DataFrame(encoder, Bytes{1, 2, 3}, false);
    frame.insert(frame.begin() + 12, kXoff); // a line's flow control in the middle
    frame.insert(frame.begin() + 14, kXon | 0x80);
    stream.insert(stream.end(), frame.begin(), frame.end());
    TZmodemDecoder decoder;
    std::vector<Bytes> data;
    const auto events = FeedAll(decoder, stream, &data);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].type, kRqInit);
    EXPECT_EQ(events[2].kind, TZmodemEvent::Kind::Subpacket);
    EXPECT_EQ(data[2], (Bytes{1, 2, 3}));
}

TEST(ZmodemStartDetector, FindsAnSzStartAcrossChunksAndSaysWhereItEnds) {
    TZmodemEncoder encoder;
    Bytes stream{'r', 'z', '\r'};
    const std::string text = "Ready to send, start your receiver **now**\r\n";
    stream.insert(stream.begin(), text.begin(), text.end());
    encoder.HexHeader(stream, kRqInit, PositionHeader(0));
    const std::size_t headerEnd = stream.size() - 3; // CR, LF, XON follow the digits
    for (std::size_t split = 0; split < stream.size(); ++split) {
        TZmodemStartDetector detector;
        const auto first = detector.Scan(stream.data(), split);
        if (split >= headerEnd) {
            EXPECT_EQ(first.start, TZmodemStartDetector::TStart::RemoteSends);
            EXPECT_EQ(first.used, headerEnd);
            continue;
        }
        EXPECT_EQ(first.start, TZmodemStartDetector::TStart::None);
        const auto second = detector.Scan(stream.data() + split, stream.size() - split);
        EXPECT_EQ(second.start, TZmodemStartDetector::TStart::RemoteSends);
        EXPECT_EQ(split + second.used, headerEnd);
    }
}

TEST(ZmodemStartDetector, FindsAWaitingReceiverAndIgnoresLookalikes) {
    TZmodemEncoder encoder;
    TZmodemStartDetector detector;
    const std::string lookalike = "**\x18"
                                  "B00000000000001 ** B01 ***";
    const auto none =
        detector.Scan(reinterpret_cast<const std::uint8_t*>(lookalike.data()), lookalike.size());
    EXPECT_EQ(none.start, TZmodemStartDetector::TStart::None);
    Bytes rinit;
    encoder.HexHeader(rinit, kRInit, {0, 0, 0, 0x23});
    EXPECT_EQ(detector.Scan(rinit.data(), rinit.size()).start,
              TZmodemStartDetector::TStart::RemoteReceives);
    Bytes other;
    encoder.HexHeader(other, kRPos, PositionHeader(0));
    EXPECT_EQ(detector.Scan(other.data(), other.size()).start, TZmodemStartDetector::TStart::None);
}

} // namespace
