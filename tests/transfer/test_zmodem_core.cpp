// The ZMODEM receiver and sender with a fake line, a manual timer and files
// in memory: hostile names, damage and silence, files that cannot be made,
// the question for an existing file, a receiver with a small buffer, the
// stream window, and our sender against our receiver over a spoiling line.
#include "transfer/zmodem/zmodem_receiver.h"
#include "transfer/zmodem/zmodem_sender.h"
#include "transfer/zmodem/zmodem_status.h"

#include "transfer_fakes.h"
#include "zmodem_peer.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <tuple>
#include <utility>

using namespace telvora;
using namespace telvora::test;
using namespace telvora::zmodem;
namespace status = zmodem_status;

namespace {

// A folder in memory, to receive into or send from.
class MemoryFiles : public TZmodemFiles, public TZmodemSource {
public:
    bool Exists(const std::string& path) override { return files.count(path) != 0; }
    bool IsPlainFile(const std::string& path) override { return Exists(path); }
    std::uint64_t Length(const std::string& path) override {
        const auto length = claimedLengths.find(path);
        return length != claimedLengths.end() ? length->second : files.at(path).size();
    }
    void Create(const std::string& path) override {
        if (failCreate) {
            throw ETransferFileError("Cannot create " + path + ": Permission denied");
        }
        if (path.size() - path.find_last_of('/') - 1 > 255) {
            throw ETransferFileError("Cannot create " + path + ": File name too long");
        }
        created.push_back(path);
        files[path].clear();
        open = path;
    }
    void OpenForAppend(const std::string& path) override { open = files.count(path) ? path : ""; }
    void Append(const std::uint8_t* data, std::size_t count) override {
        ASSERT_FALSE(open.empty()) << "a write to no file";
        files[open].insert(files[open].end(), data, data + count);
    }
    void Close() override { open.clear(); }
    void CloseQuietly() override { open.clear(); }
    void SetModified(const std::string& path, std::int64_t seconds) override {
        modified[path] = seconds;
    }
    TInfo Open(const std::string& path) override {
        if (!Exists(path)) {
            throw ETransferFileError("Cannot read " + path + ": No such file or directory");
        }
        open = path;
        return {Length(path), 0};
    }
    std::size_t ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t count) override {
        const Bytes& file = files.at(open);
        const std::size_t got =
            offset >= file.size() ? 0 : std::min<std::size_t>(count, file.size() - offset);
        std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(offset), got, data);
        return got;
    }

    std::map<std::string, Bytes> files;
    std::map<std::string, std::int64_t> modified;
    // A length to report instead of the content's (a file too big to hold here).
    std::map<std::string, std::uint64_t> claimedLengths;
    std::vector<std::string> created;
    std::string open;
    bool failCreate = false;
};

Bytes Pattern(std::size_t size, unsigned seed) {
    const std::string text = RandomContent(size, seed);
    return {text.begin(), text.end()};
}

// What a sender or receiver said, read back as frames.
std::vector<TZmodemEvent> Frames(const Bytes& bytes) {
    TZmodemDecoder decoder;
    return FeedAll(decoder, bytes);
}

bool HasHeader(const Bytes& bytes, TFrameType type, std::optional<std::uint32_t> position = {}) {
    for (const TZmodemEvent& event : Frames(bytes)) {
        if (event.kind == TZmodemEvent::Kind::Header && event.type == type &&
            (!position || HeaderPosition(event.bytes) == *position)) {
            return true;
        }
    }
    return false;
}

bool EndsWithCancel(const Bytes& bytes) {
    Bytes expected(8, zmodem::kCan);
    expected.insert(expected.end(), 10, kBackspace);
    return bytes.size() >= expected.size() &&
           std::equal(expected.begin(), expected.end(), bytes.end() - expected.size());
}

// ---------------------------------------------------------------- receiver

class ZmodemReceiverTest : public ::testing::Test {
protected:
    void SetUp() override {
        receiver.Start("/in", TExistingFile::Ask);
        EXPECT_TRUE(HasHeader(port.Take(), kRInit));
    }
    void Hear(const Bytes& bytes) { receiver.ReceiveChunk(bytes.data(), bytes.size()); }
    Bytes Offer(const std::string& name, const std::string& info = "100 14500000000 0 0 1 100") {
        Bytes data(name.begin(), name.end());
        data.push_back(0);
        data.insert(data.end(), info.begin(), info.end());
        data.push_back(0);
        Bytes out;
        encoder.BinaryHeader(out, kFile, {0, 0, 0, kConvertBinary}, true);
        encoder.Subpacket(out, data.data(), data.size(), TSubpacketEnd::CrcW, true);
        return out;
    }
    Bytes Data(std::uint32_t position, const Bytes& data, TSubpacketEnd end) {
        Bytes out;
        encoder.BinaryHeader(out, kData, PositionHeader(position), true);
        encoder.Subpacket(out, data.data(), data.size(), end, true);
        return out;
    }
    Bytes Header(TFrameType type, std::uint32_t position) {
        Bytes out;
        encoder.BinaryHeader(out, type, PositionHeader(position), true);
        return out;
    }
    void Ticks(int count) {
        for (int i = 0; i < count; ++i) {
            receiver.TimeoutTimer();
        }
    }
    // Stopped once, saying so, and deaf to the line from then on.
    void ExpectEnded(const std::string& status, TTransferOutcome outcome, bool cancels) {
        EXPECT_FALSE(receiver.Running());
        EXPECT_EQ(port.progress.status, status);
        EXPECT_EQ(port.progress.outcome, outcome);
        EXPECT_EQ(EndsWithCancel(port.Take()), cancels);
        EXPECT_EQ(std::exchange(port.transferModeEnded, 0), 1);
        receiver.LineSilent();
        receiver.TransportLost();
        EXPECT_TRUE(port.Take().empty());
        EXPECT_EQ(port.progress.status, status);
    }

    FakePort port;
    MemoryFiles files;
    TZmodemReceiver receiver{port, files};
    TZmodemEncoder encoder;
};

TEST_F(ZmodemReceiverTest, HostileNamesLandDirectlyInTheFolder) {
    const std::vector<std::string> names{"../../etc/passwd", "/etc/shadow",     "..",    "",
                                         "dir/../../x",      "C:\\evil\\x.bin", "a\x01z"};
    for (const std::string& name : names) {
        Hear(Offer(name));
        EXPECT_TRUE(HasHeader(port.Take(), kRPos, 0)) << name;
        Hear(Header(kEof, 0));
    }
    ASSERT_EQ(files.created.size(), names.size());
    for (const std::string& path : files.created) {
        ASSERT_EQ(path.rfind("/in/", 0), 0u) << path;
        const std::string name = path.substr(4);
        EXPECT_EQ(name.find('/'), std::string::npos) << path;
        EXPECT_NE(name, "..");
        EXPECT_FALSE(name.empty());
        for (char c : name) {
            EXPECT_GE(static_cast<unsigned char>(c), 32) << path;
        }
    }
    EXPECT_EQ(files.created[0], "/in/passwd");
}

TEST_F(ZmodemReceiverTest, DamageDrawsTheAttentionStringAndAZrposAtTheLastGoodByte) {
    Bytes init;
    encoder.BinaryHeader(init, kSInit, {0, 0, 0, 0}, true);
    const Bytes attention{'!', 'A', 0};
    encoder.Subpacket(init, attention.data(), attention.size(), TSubpacketEnd::CrcW, true);
    Hear(init);
    EXPECT_TRUE(HasHeader(port.Take(), zmodem::kAck));
    Hear(Offer("f.bin"));
    port.Take();
    const Bytes content = Pattern(3000, 1);
    const Bytes first(content.begin(), content.begin() + 1000);
    const Bytes second(content.begin() + 1000, content.end());
    Hear(Data(0, first, TSubpacketEnd::CrcG));
    Bytes spoiled = Data(1000, second, TSubpacketEnd::CrcE);
    spoiled[spoiled.size() / 2] ^= 0x04;
    Hear(Bytes(spoiled.begin() + 14, spoiled.end())); // the frame goes on without a header
    const Bytes answer = port.Take();
    ASSERT_GE(answer.size(), 2u);
    EXPECT_EQ(Bytes(answer.begin(), answer.begin() + 2), (Bytes{'!', 'A'}));
    EXPECT_TRUE(HasHeader(answer, kRPos, 1000));
    EXPECT_EQ(port.progress.errorCount, 1);
    Hear(Data(900, second, TSubpacketEnd::CrcE)); // a stale frame at another position
    EXPECT_TRUE(HasHeader(port.Take(), kRPos, 1000));
    Hear(Data(1000, second, TSubpacketEnd::CrcE));
    Hear(Header(kEof, 3000));
    EXPECT_TRUE(HasHeader(port.Take(), kRInit));
    EXPECT_EQ(files.files["/in/f.bin"], content);
    EXPECT_EQ(files.modified["/in/f.bin"], 014500000000);
}

TEST_F(ZmodemReceiverTest, SilenceIsAnsweredEveryTenSecondsThenGivenUp) {
    Hear(Offer("f.bin"));
    port.Take();
    Hear(Data(0, Bytes(100, 'x'), TSubpacketEnd::CrcG));
    Ticks(TZmodemReceiver::kTimeoutTicks - 1);
    EXPECT_TRUE(port.Take().empty());
    Ticks(1);
    EXPECT_TRUE(HasHeader(port.Take(), kRPos, 100));
    EXPECT_EQ(port.progress.status, status::kTimedOut);
    Ticks(TZmodemReceiver::kTimeoutTicks * (TZmodemReceiver::kMaxRetries - 1));
    EXPECT_TRUE(receiver.Running());
    Ticks(TZmodemReceiver::kTimeoutTicks);
    ExpectEnded(status::kTimedOut, TTransferOutcome::TimedOut, true);
    EXPECT_EQ(files.files["/in/f.bin"], Bytes(100, 'x')) << "what came is kept";
}

TEST_F(ZmodemReceiverTest, TheQuestionWaitsForTheAnswerWithoutTimingOut) {
    files.files["/in/f.bin"] = Bytes(40, 'o');
    std::string asked;
    receiver.SetAskExisting([&](const std::string& path) { asked = path; });
    Hear(Offer("f.bin"));
    EXPECT_EQ(asked, "/in/f.bin");
    EXPECT_TRUE(receiver.WaitingForChoice());
    EXPECT_TRUE(port.Take().empty());
    Ticks(TZmodemReceiver::kTimeoutTicks * (TZmodemReceiver::kMaxRetries + 2));
    receiver.LineSilent(); // the sender waits for us, not we for it
    EXPECT_TRUE(port.Take().empty());
    Hear(Offer("f.bin")); // the sender repeats itself meanwhile
    receiver.Choose(TExistingFile::Resume);
    EXPECT_FALSE(receiver.WaitingForChoice());
    EXPECT_TRUE(HasHeader(port.Take(), kRPos, 40));
    EXPECT_EQ(port.progress.status, status::ResumingAt(40));
    Hear(Data(40, Bytes(60, 'n'), TSubpacketEnd::CrcE));
    Hear(Header(kEof, 100));
    Bytes expected(40, 'o');
    expected.insert(expected.end(), 60, 'n');
    EXPECT_EQ(files.files["/in/f.bin"], expected);
    EXPECT_EQ(receiver.BytesWritten(), 60u);
}

TEST_F(ZmodemReceiverTest, AFileTooLongToResumeByZrposArrivesUnderANewName) {
    files.files["/in/f.bin"] = Bytes(5, 'o');
    files.claimedLengths["/in/f.bin"] = 0x100000005ull;
    receiver.Start("/in", TExistingFile::Resume);
    port.Take();
    Hear(Offer("f.bin", "8589934592 0 0 0 1 8589934592"));
    const Bytes answer = port.Take();
    EXPECT_TRUE(HasHeader(answer, kRPos, 0));
    EXPECT_FALSE(HasHeader(answer, kRPos, 5)) << "4 GiB and 5 bytes, cut to 32 bits";
    EXPECT_EQ(files.created, std::vector<std::string>{"/in/f.1.bin"});
    EXPECT_EQ(files.files["/in/f.bin"], Bytes(5, 'o'));
}

TEST_F(ZmodemReceiverTest, ALongNameRenamedIsCutToFitAndTheBatchGoesOn) {
    receiver.Start("/in", TExistingFile::Rename);
    const std::string name = std::string(252, 'x') + "\u00e9x"; // 255 bytes
    for (const std::string& sent : {name, name, std::string("next.bin")}) {
        Hear(Offer(sent, "3 0 0 0 1 3"));
        Hear(Data(0, Bytes(3, 'd'), TSubpacketEnd::CrcE));
        Hear(Header(kEof, 3));
    }
    Hear(Header(kFin, 0));
    Hear(Text("OO"));
    EXPECT_EQ(files.created,
              (std::vector<std::string>{"/in/" + name, "/in/" + std::string(252, 'x') + ".1",
                                        "/in/next.bin"}));
    EXPECT_EQ(port.progress.outcome, TTransferOutcome::Completed) << port.progress.status;
}

TEST_F(ZmodemReceiverTest, AFileNotOfItsAnnouncedLengthIsKeptAndTheBatchIsNoSuccess) {
    // Each file: its name, the length its ZFILE announces, what was there to
    // resume, what comes.
    using TFile = std::tuple<std::string, std::uint32_t, std::uint32_t, std::uint32_t>;
    const std::vector<std::pair<std::vector<TFile>, std::string>> batches = {
        {{{"a", 1000000, 0, 10}}, "a: 10 of 1000000 bytes, shorter than announced"},
        {{{"a", 5, 0, 10}}, "a: 10 of 5 bytes, longer than announced"},
        {{{"a", 100, 40, 50}}, "a: 90 of 100 bytes, shorter than announced"},
        {{{"a", 1000000, 0, 10}, {"b", 100, 40, 60}, {"c", 5, 0, 10}},
         // b, resumed, came whole: counted from what it had
         "a: 10 of 1000000 bytes, shorter than announced; 1 more file not as announced"},
    };
    for (const auto& [batch, status] : batches) {
        files.files.clear();
        receiver.Start("/in", TExistingFile::Resume);
        for (const auto& [name, announced, had, sent] : batch) {
            if (had > 0) {
                files.files["/in/" + name] = Bytes(had, 'h');
            }
            Hear(Offer(name, std::to_string(announced) + " 0 0 0 1 1"));
            Hear(Data(had, Bytes(sent, 'd'), TSubpacketEnd::CrcE));
            Hear(Header(kEof, had + sent));
            EXPECT_TRUE(receiver.Running()) << "the batch goes on";
            EXPECT_EQ(files.files["/in/" + name].size(), had + sent);
        }
        Hear(Header(kFin, 0));
        Hear(Text("OO"));
        ExpectEnded(status, TTransferOutcome::ProtocolError, false);
    }
}

TEST_F(ZmodemReceiverTest, ZcrcqAndZcrcwAreAcknowledgedWithThePosition) {
    Hear(Offer("f.bin"));
    port.Take();
    Hear(Data(0, Bytes(10, 'a'), TSubpacketEnd::CrcQ));
    EXPECT_TRUE(HasHeader(port.Take(), zmodem::kAck, 10));
    Bytes more;
    encoder.Subpacket(more, Bytes(5, 'b').data(), 5, TSubpacketEnd::CrcW, true);
    Hear(more);
    EXPECT_TRUE(HasHeader(port.Take(), zmodem::kAck, 15));
}

TEST_F(ZmodemReceiverTest, AFileThatCannotBeMadeEndsTheTransferSayingWhy) {
    files.failCreate = true;
    Hear(Offer("f.bin"));
    ExpectEnded("Cannot create /in/f.bin: Permission denied", TTransferOutcome::FileError, true);
}

TEST_F(ZmodemReceiverTest, AFileWhoseFolderWentIsLostNotComplete) {
    Hear(Offer("f.bin", "3 0 0 0 1 3"));
    Hear(Data(0, Bytes(3, 'd'), TSubpacketEnd::CrcE));
    files.files.clear(); // the folder removed
    Hear(Header(kEof, 3));
    ExpectEnded("File lost: /in/f.bin", TTransferOutcome::FileError, true);
}

TEST_F(ZmodemReceiverTest, AnAnsweredZfinEndsItCompleteOnOverAndOutOrALostLine) {
    for (const bool lost : {false, true}) {
        receiver.Start("/in", TExistingFile::Ask);
        Bytes fin;
        encoder.HexHeader(fin, kFin, PositionHeader(0));
        Hear(fin);
        EXPECT_TRUE(HasHeader(port.Take(), kFin));
        EXPECT_TRUE(receiver.Running());
        lost ? receiver.TransportLost() : Hear(Text("OO"));
        ExpectEnded(status::kComplete, TTransferOutcome::Completed, false);
    }
}

TEST_F(ZmodemReceiverTest, FiveCansASilentLineOrALostOneEndItMidFileAndKeepTheFile) {
    const struct {
        std::function<void()> end;
        std::string status;
        TTransferOutcome outcome;
        bool cancels;
    } ends[] = {
        {[&] { Hear(Bytes(5, zmodem::kCan)); }, status::kCancelledByPeer,
         TTransferOutcome::CancelledByPeer, false},
        {[&] { receiver.LineSilent(); }, "Timed out", TTransferOutcome::TimedOut, true},
        {[&] { receiver.TransportLost(); }, status::kConnectionLost, TTransferOutcome::LineLost,
         false},
    };
    for (const auto& [end, status, outcome, cancels] : ends) {
        SCOPED_TRACE(status);
        receiver.Start("/in", TExistingFile::Overwrite);
        Hear(Offer("f.bin"));
        Hear(Data(0, Bytes(10, 'a'), TSubpacketEnd::CrcG));
        port.Take();
        end();
        ExpectEnded(status, outcome, cancels);
        EXPECT_EQ(files.files["/in/f.bin"], Bytes(10, 'a'));
    }
}

// ---------------------------------------------------------------- sender

// A ZRINIT's flags: full duplex, streaming, CRC-32.
constexpr THeaderBytes kStreams{0, 0, 0, kCanFullDuplex | kCanOverlapIo | kCanCrc32};

class ZmodemSenderTest : public ::testing::Test {
protected:
    void Hear(TFrameType type, const THeaderBytes& bytes) {
        Bytes out;
        encoder.HexHeader(out, type, bytes);
        sender.ReceiveChunk(out.data(), out.size());
    }
    void Ticks(int count) {
        for (int i = 0; i < count; ++i) {
            sender.TimeoutTimer();
        }
    }
    // The data the sender has put in subpackets.
    static Bytes Payload(const Bytes& bytes, int* frameEnds = nullptr) {
        TZmodemDecoder decoder;
        Bytes data;
        for (std::uint8_t byte : bytes) {
            const TZmodemEvent event = decoder.Feed(byte);
            if (event.kind == TZmodemEvent::Kind::Subpacket) {
                data.insert(data.end(), decoder.Data().begin(), decoder.Data().end());
                if (frameEnds != nullptr && event.end == TSubpacketEnd::CrcW) {
                    ++*frameEnds;
                }
            }
        }
        return data;
    }

    FakePort port;
    MemoryFiles files;
    TZmodemSender sender{port, files};
    TZmodemEncoder encoder;
};

TEST_F(ZmodemSenderTest, AnUnreadableFileOrOneOfFourGigabytesRaisesWithNothingSent) {
    files.files["/up/small"] = Pattern(10, 9);
    files.files["/up/huge"] = {};
    const struct {
        std::vector<std::string> paths;
        std::uint64_t hugeSize;
        bool raises;
    } batches[] = {{{"/nowhere"}, 0, true},
                   {{"/up/small", "/up/huge"}, 0x100000000ull, true},
                   {{"/up/small", "/up/huge"}, 0xFFFFFFFFull, false}};
    for (const auto& [paths, hugeSize, raises] : batches) {
        SCOPED_TRACE(paths.back() + " of " + std::to_string(hugeSize));
        files.claimedLengths["/up/huge"] = hugeSize;
        if (!raises) {
            EXPECT_NO_THROW(sender.Start(paths));
            continue;
        }
        EXPECT_THROW(sender.Start(paths), ETransferFileError);
        EXPECT_TRUE(port.replies.empty());
        EXPECT_FALSE(sender.Running());
    }
}

TEST_F(ZmodemSenderTest, AFileTheReceiverSkippedIsNoCompleteTransfer) {
    files.files["/up/a"] = Pattern(10, 10);
    files.files["/up/b"] = Pattern(10, 11);
    sender.Start({"/up/a", "/up/b"});
    Hear(kRInit, kStreams);
    Hear(kSkip, PositionHeader(0));
    EXPECT_EQ(port.progress.fileName, "/up/b");
    Hear(kRPos, PositionHeader(10));
    Hear(kRInit, kStreams);
    EXPECT_EQ(sender.SendState(), TZmodemSender::State::WaitFin);
    Hear(kFin, PositionHeader(0));
    EXPECT_FALSE(sender.Running());
    EXPECT_EQ(port.progress.status, status::SkippedByReceiverAtEnd(1));
    EXPECT_NE(port.progress.status, status::kComplete);
}

TEST_F(ZmodemSenderTest, AZskipSkipsOnlyTheFileWhoseOfferItAnswers) {
    for (const char* name : {"/up/a", "/up/b", "/up/c"}) {
        files.files[name] = Pattern(10, 12);
    }
    sender.Start({"/up/a", "/up/b", "/up/c"});
    Hear(kRInit, kStreams);
    Ticks(TZmodemSender::kTimeoutTicks);                      // a is offered again
    for (const char* offered : {"/up/b", "/up/b", "/up/c"}) { // a, a again, b skipped
        Hear(kSkip, PositionHeader(0));
        EXPECT_EQ(port.progress.fileName, offered);
    }
}

TEST_F(ZmodemSenderTest, AnUnansweredZfinEndsTheBatchWithinSecondsAsItWent) {
    files.files["/up/a"] = Pattern(10, 13);
    for (bool skip : {false, true}) {
        sender.Start({"/up/a"});
        Hear(kRInit, kStreams);
        Hear(skip ? kSkip : kRPos, PositionHeader(skip ? 0 : 10));
        Hear(kRInit, kStreams);
        port.Take();
        Ticks(5000 / TZmodemSender::kTickMs);
        EXPECT_FALSE(sender.Running());
        EXPECT_EQ(port.progress.outcome,
                  skip ? TTransferOutcome::Skipped : TTransferOutcome::Completed);
        EXPECT_TRUE(HasHeader(port.Take(), kFin)) << "a lost ZFIN is sent again";
    }
}

TEST_F(ZmodemSenderTest, AReceiverWithABufferIsNeverOverrun) {
    const Bytes content = Pattern(10000, 2);
    files.files["/up/f.bin"] = content;
    sender.Start({"/up/f.bin"});
    EXPECT_EQ(Bytes(port.replies.begin(), port.replies.begin() + 3), Text("rz\r"));
    EXPECT_TRUE(HasHeader(port.Take(), kRqInit));
    Hear(kRInit, {0x00, 0x08, 0, kCanFullDuplex | kCanCrc32}); // a 2048-byte buffer
    const auto offer = Frames(port.Take());
    ASSERT_EQ(offer.size(), 2u);
    EXPECT_EQ(offer[0].type, kFile);
    Hear(kRPos, PositionHeader(0));
    for (int i = 0; i < 10; ++i) {
        sender.Pump();
        sender.TimeoutTimer();
    }
    int frameEnds = 0;
    Bytes sent = Payload(port.Take(), &frameEnds);
    EXPECT_EQ(sent, Bytes(content.begin(), content.begin() + 2048));
    EXPECT_EQ(frameEnds, 1);
    EXPECT_FALSE(sender.WantsToSend());
    Hear(zmodem::kAck, PositionHeader(2048));
    sender.Pump();
    const Bytes next = port.Take();
    EXPECT_TRUE(HasHeader(next, kData, 2048));
    EXPECT_EQ(Payload(next), Bytes(content.begin() + 2048, content.begin() + 4096));
}

TEST_F(ZmodemSenderTest, AStreamStopsAtTheWindowUntilAZackComes) {
    files.files["/up/f.bin"] = Pattern(1024 * 1024, 3);
    sender.Start({"/up/f.bin"});
    Hear(kRInit, kStreams);
    port.Take(); // the offer
    Hear(kRPos, PositionHeader(0));
    std::size_t before = port.replies.size();
    EXPECT_TRUE(sender.Pump(4096));
    EXPECT_LT(port.replies.size() - before, 4096u + 2 * TZmodemSender::kLargestSubpacket)
        << "one pump sends one burst";
    while (sender.Pump()) {
    }
    EXPECT_EQ(Payload(port.Take()).size(), TZmodemSender::kStreamWindow);
    EXPECT_EQ(sender.SendState(), TZmodemSender::State::WaitAck);
    Hear(zmodem::kAck, PositionHeader(TZmodemSender::kAckInterval));
    EXPECT_TRUE(sender.WantsToSend());
    // The frame goes on: subpackets without a new header.
    EXPECT_GE(port.Take().size(), TZmodemSender::kBurstBytes);
}

TEST_F(ZmodemSenderTest, ZrposTakesItBackWithSmallerSubpacketsAndRepeatsAreIgnored) {
    const Bytes content = Pattern(200000, 4);
    files.files["/up/f.bin"] = content;
    sender.Start({"/up/f.bin"});
    Hear(kRInit, kStreams);
    Hear(kRPos, PositionHeader(0));
    for (int i = 0; i < 5; ++i) {
        sender.Pump();
    }
    port.Take();
    Hear(kRPos, PositionHeader(5000));
    EXPECT_EQ(port.progress.errorCount, 1);
    EXPECT_EQ(sender.SubpacketSize(), TZmodemSender::kStartSubpacket / 2);
    EXPECT_EQ(port.progress.status, status::RewindingTo(5000));
    EXPECT_TRUE(HasHeader(port.Take(), kData, 5000));
    EXPECT_FALSE(sender.WantsToSend()) << "the resync frame waits for its ZACK";
    Hear(kRPos, PositionHeader(5000)); // sent while the receiver hunted
    EXPECT_EQ(port.progress.errorCount, 1);
    EXPECT_TRUE(port.Take().empty());
    Hear(zmodem::kAck, PositionHeader(5000));
    const Bytes resent = port.Take();
    EXPECT_TRUE(HasHeader(resent, kData, 5000));
    const Bytes again = Payload(resent);
    EXPECT_EQ(again.size(), 8192u);
    EXPECT_EQ(again, Bytes(content.begin() + 5000, content.begin() + 5000 + again.size()));
    Hear(kRPos, PositionHeader(1000)); // behind what it acknowledged: stale
    EXPECT_EQ(port.progress.errorCount, 1);
}

TEST_F(ZmodemSenderTest, ASilentLineOrReceiverEndsItTimedOutWithTheCancel) {
    files.files["/up/f.bin"] = Pattern(10, 5);
    for (const bool receiverOnly : {false, true}) {
        sender.Start({"/up/f.bin"});
        if (receiverOnly) { // asked again, then given up
            port.Take();
            Ticks(TZmodemSender::kTimeoutTicks);
            const Bytes again = port.Take();
            EXPECT_TRUE(HasHeader(again, kRqInit));
            EXPECT_NE(again.front(), 'r') << "rz\\r goes out only once";
            Ticks(TZmodemSender::kTimeoutTicks * TZmodemSender::kMaxTries);
        } else {
            sender.LineSilent();
        }
        EXPECT_FALSE(sender.Running());
        EXPECT_EQ(port.progress.status, status::kTimedOut);
        EXPECT_EQ(port.progress.outcome, TTransferOutcome::TimedOut);
        EXPECT_TRUE(EndsWithCancel(port.Take()));
        sender.LineSilent(); // once stopped, ignored
        EXPECT_TRUE(port.Take().empty());
    }
}

// ---------------------------------------------------------------- both of ours

TEST(ZmodemLoopback, OurSenderAndReceiverAgreeOverALineThatSpoilsBothWays) {
    FakePort toReceiver;
    FakePort toSender;
    MemoryFiles source;
    MemoryFiles sink;
    source.files["/up/a.bin"] = Pattern(300000, 6);
    source.files["/up/empty"] = {};
    const std::string awkward = AwkwardContent();
    source.files["/up/awkward"] = Bytes(awkward.begin(), awkward.end());
    TZmodemSender sender(toReceiver, source);
    TZmodemReceiver receiver(toSender, sink);
    LineNoise forward(500, 250000, 3000, 7);
    LineNoise backward(0, 2000, 40, 8);
    receiver.Start("/in", TExistingFile::Overwrite);
    sender.Start({"/up/a.bin", "/up/empty", "/up/awkward"});
    // Simulated time: a sender tick each step, a receiver tick every 50.
    for (int step = 0; step < 200000 && (sender.Running() || receiver.Running()); ++step) {
        Bytes forth = toReceiver.Take();
        forward.Apply(forth);
        receiver.ReceiveChunk(forth.data(), forth.size());
        Bytes back = toSender.Take();
        backward.Apply(back);
        sender.ReceiveChunk(back.data(), back.size());
        sender.TimeoutTimer();
        if (step % (TZmodemReceiver::kTickMs / TZmodemSender::kTickMs) == 0) {
            receiver.TimeoutTimer();
        }
    }
    EXPECT_EQ(toReceiver.progress.status, status::kComplete);
    EXPECT_EQ(toSender.progress.status, status::kComplete);
    EXPECT_GT(forward.damaged, 20);
    EXPECT_GT(backward.damaged, 5);
    EXPECT_EQ(sink.files["/in/a.bin"], source.files["/up/a.bin"]);
    EXPECT_TRUE(sink.files.count("/in/empty"));
    EXPECT_EQ(sink.files["/in/awkward"], source.files["/up/awkward"]);
}

} // namespace
