// The block sender driven by reply bytes, with a fake line, a manual timer
// and files in memory: what it sends, what it shows, when it gives up.
#include "transfer/block_sender.h"

#include "transfer_fakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <numeric>
#include <optional>
#include <tuple>

using namespace telvora;
using namespace telvora::test;

namespace {

const Bytes kCans(3, kCan);

class MemorySource : public TSenderFiles {
public:
    TSourceInfo Open(const std::string& path) override {
        const auto file = files.find(path);
        if (file == files.end()) {
            throw ETransferFileError("Cannot read " + path + ": No such file or directory");
        }
        open = path;
        offset = 0;
        return {file->second.size(), 0754};
    }
    std::size_t Read(std::uint8_t* data, std::size_t count) override {
        if (failReadAt && offset >= *failReadAt) {
            throw ETransferFileError("Cannot read " + open + ": Input/output error");
        }
        const Bytes& file = files.at(open);
        const std::size_t got = std::min(count, file.size() - offset);
        std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(offset), got, data);
        offset += got;
        return got;
    }
    void Close() override { open.clear(); }

    std::map<std::string, Bytes> files;
    std::string open;
    std::size_t offset = 0;
    std::optional<std::size_t> failReadAt;
};

Bytes Pattern(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    return bytes;
}

Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t count) {
    return {bytes.begin() + static_cast<std::ptrdiff_t>(from),
            bytes.begin() + static_cast<std::ptrdiff_t>(std::min(from + count, bytes.size()))};
}

class BlockSenderTest : public ::testing::Test {
protected:
    void Reply(std::uint8_t byte) { Reply(Bytes{byte}); }
    // After a start request or a refusal nothing goes out until a short
    // pause has passed: the tick that ends it is given here.
    void Reply(const Bytes& bytes) {
        const std::size_t before = port.replies.size();
        sender.ReceiveChunk(bytes.data(), bytes.size());
        if (sender.SendState() == TBlockSender::State::Pause) {
            EXPECT_EQ(port.replies.size(), before) << "sent during the pause";
            EXPECT_EQ(port.timer, TBlockSender::kGapMs);
            sender.TimeoutTimer();
        }
    }
    // What the sender sends on these reply bytes, or on a tick.
    Bytes SentAfter(const Bytes& bytes) {
        Reply(bytes);
        return port.Take();
    }
    Bytes SentAfter(std::uint8_t byte) { return SentAfter(Bytes{byte}); }
    Bytes Tick() {
        sender.TimeoutTimer();
        return port.Take();
    }
    // An X-Modem CRC upload of this many bytes as "f", started by the
    // receiver's C: its first block.
    Bytes StartCrc(std::size_t size) {
        files.files["f"] = Pattern(size);
        sender.Start(TSendProtocol::XModemCrc, {"f"});
        return SentAfter(kC);
    }
    // A Y-Modem batch of one empty file, taken up to the batch's closing
    // empty header, which is sent and not yet answered.
    void SendEmptyBatchToItsEnd() {
        files.files["g"] = {};
        sender.Start(TSendProtocol::YModem, {"g"});
        EXPECT_EQ(SentAfter(kC), BatchHeader("g", "0 754"));
        EXPECT_EQ(SentAfter(Bytes{kAck, kC}), Bytes{kEot});
        EXPECT_EQ(SentAfter(Bytes{kAck, kC}), BatchHeader("")) << "the batch's empty header";
    }
    // An ending with our cancel: what was sent is the three CANs, and the
    // transfer has ended saying why.
    void ExpectCancelled(const Bytes& sent, TTransferOutcome outcome, const std::string& status) {
        EXPECT_EQ(sent, kCans) << status;
        EXPECT_EQ(port.progress.outcome, outcome) << status;
        EXPECT_EQ(Status(), status);
        EXPECT_TRUE(port.progress.ended);
        EXPECT_FALSE(sender.Running());
    }
    std::string Status() const { return port.progress.status; }

    FakePort port;
    MemorySource files;
    TBlockSender sender{port, files};
};

TEST_F(BlockSenderTest, StartsOnCAndSendsCrcBlocksFilledWithSubThenEndsWithEot) {
    const Bytes content = Pattern(200);
    files.files["/up/a.bin"] = content;
    sender.Start(TSendProtocol::XModemCrc, {"/up/a.bin"});
    EXPECT_EQ(Status(), "Waiting for receiver...");
    EXPECT_EQ(port.progress.totalBytes, 200);
    EXPECT_TRUE(SentAfter(Text("Start your upload now\r\n")).empty())
        << "the BBS's text is not a start";
    EXPECT_EQ(SentAfter(kC), Block(kSoh, 1, Slice(content, 0, 128)));
    EXPECT_EQ(port.timer, TBlockSender::kReplyTimeoutMs);
    EXPECT_EQ(SentAfter(kAck), Block(kSoh, 2, Slice(content, 128, 72))) << "filled with 0x1A";
    EXPECT_EQ(port.progress.bytes, 128);
    EXPECT_EQ(SentAfter(kAck), Bytes{kEot});
    EXPECT_EQ(port.progress.bytes, 200);
    EXPECT_EQ(port.progress.blocks, 2);
    EXPECT_EQ(SentAfter(kNak), Bytes{kEot}) << "many receivers refuse the first EOT";
    Reply(kAck);
    EXPECT_EQ(Status(), "Transfer Complete!");
    EXPECT_TRUE(port.progress.ended);
    EXPECT_EQ(port.alerts, 1);
    EXPECT_EQ(port.transferModeEnded, 1);
    EXPECT_EQ(port.timer, 0);
    EXPECT_FALSE(sender.Running());
    EXPECT_TRUE(SentAfter(kC).empty());
}

TEST_F(BlockSenderTest, ANakStartMeansShortBlocksWithTheChecksum) {
    const Bytes content = Pattern(1500);
    files.files["f"] = content;
    sender.Start(TSendProtocol::XModem1k, {"f"});
    Bytes block = Slice(content, 0, 128);
    const int sum = std::accumulate(block.begin(), block.end(), 0);
    block.push_back(static_cast<std::uint8_t>(sum)); // the checksum, not a CRC
    block.insert(block.begin(), {kSoh, 1, 0xFE});
    EXPECT_EQ(SentAfter(kNak), block);
}

TEST_F(BlockSenderTest, OneKBlocksWithAShortBlockForASmallTail) {
    const Bytes content = Pattern(1024 + 100);
    files.files["f"] = content;
    sender.Start(TSendProtocol::XModem1k, {"f"});
    EXPECT_EQ(SentAfter(kC), Block(kStx, 1, Slice(content, 0, 1024)));
    EXPECT_EQ(SentAfter(kAck), Block(kSoh, 2, Slice(content, 1024, 100)));
}

TEST_F(BlockSenderTest, RefusalsAndTimeoutsResendAndTheTenthFailureCancels) {
    const Bytes first = StartCrc(300);
    EXPECT_EQ(SentAfter(kNak), first);
    EXPECT_EQ(Status(), "Block refused.");
    // A retry request, and a second one for the same block: sent once.
    EXPECT_EQ(SentAfter(Bytes{kC, kNak}), first);
    EXPECT_TRUE(SentAfter(0x53).empty()) << "a spoiled ACK: nothing, the timeout resends";
    EXPECT_EQ(Tick(), first);
    EXPECT_EQ(Status(), "Timed out waiting for reply.");
    EXPECT_EQ(port.progress.errorCount, 3);
    const Bytes second = SentAfter(kAck);
    EXPECT_EQ(second[1], 2);
    for (int i = 1; i < TBlockSender::kTries; ++i) {
        EXPECT_EQ(Tick(), second) << "try " << i;
    }
    ExpectCancelled(Tick(), TTransferOutcome::TimedOut, "Transfer Aborted.");
    EXPECT_EQ(port.transferModeEnded, 1);
}

TEST_F(BlockSenderTest, TwoCansStopAtOnceAndOneIsNoise) {
    StartCrc(300);
    EXPECT_EQ(SentAfter(Bytes{kCan, kAck})[1], 2) << "a lone CAN changes nothing";
    EXPECT_TRUE(SentAfter(Bytes{kCan, kCan}).empty());
    EXPECT_EQ(Status(), "Receiver Aborted Transfer!");
    EXPECT_FALSE(sender.Running());
    EXPECT_EQ(port.timer, 0);
}

TEST_F(BlockSenderTest, BlockNumbersWrapAfter255AndAnEmptyFileIsJustEot) {
    files.files["big"] = Pattern(128 * 257);
    sender.Start(TSendProtocol::XModemCrc, {"big"});
    Reply(kC);
    for (int block = 1; block <= 257; ++block) {
        const Bytes sent = port.Take();
        ASSERT_EQ(sent.size(), 133u);
        EXPECT_EQ(sent[1], static_cast<std::uint8_t>(block));
        EXPECT_EQ(sent[2], static_cast<std::uint8_t>(~block));
        Reply(kAck);
    }
    EXPECT_EQ(port.Take(), Bytes{kEot});

    files.files["empty"] = {};
    TBlockSender empty(port, files);
    empty.Start(TSendProtocol::XModem1k, {"empty"});
    const std::uint8_t start = kC;
    empty.ReceiveChunk(&start, 1);
    empty.TimeoutTimer();
    EXPECT_EQ(port.Take(), Bytes{kEot});
}

TEST_F(BlockSenderTest, AYModemBatchNamesEachFileAndEndsWithAnEmptyHeader) {
    const Bytes content = Pattern(1500);
    files.files["/home/u/one.bin"] = content;
    files.files["/home/u/none"] = {};
    sender.Start(TSendProtocol::YModem, {"/home/u/one.bin", "/home/u/none"});
    EXPECT_EQ(SentAfter(kC), BatchHeader("one.bin", "1500 754")) << "name, NUL, length, octal time";
    EXPECT_TRUE(SentAfter(kAck).empty()) << "the data waits for the receiver's C";
    EXPECT_EQ(SentAfter(kC), Block(kStx, 1, Slice(content, 0, 1024)));
    EXPECT_EQ(SentAfter(kAck), Block(kStx, 2, Slice(content, 1024, 476)));
    EXPECT_EQ(SentAfter(kAck), Bytes{kEot});
    EXPECT_EQ(SentAfter(Bytes{kAck, kC}), BatchHeader("none", "0 754"));
    EXPECT_EQ(port.progress.fileName, "/home/u/none");
    EXPECT_EQ(SentAfter(Bytes{kAck, kC}), Bytes{kEot}) << "an empty file has no data block";
    EXPECT_EQ(SentAfter(Bytes{kAck, kC}), Block(kSoh, 0, Bytes(128, 0)));
    EXPECT_FALSE(port.progress.ended);
    Reply(kAck);
    EXPECT_EQ(Status(), "Transfer Complete!");
    EXPECT_EQ(port.alerts, 1);
}

TEST_F(BlockSenderTest, AHeaderTooLongForAShortBlockTakesALongOne) {
    const std::string name(200, 'n');
    const Bytes data = TBlockSender::HeaderData("/x/" + name, {5, 8});
    ASSERT_EQ(data.size(), 1024u);
    EXPECT_EQ(std::string(data.begin(), data.begin() + 200), name);
    EXPECT_EQ(std::string(data.begin() + 201, data.begin() + 205), "5 10");
}

TEST_F(BlockSenderTest, FileFailuresStopBeforeAnythingOrCancelMidway) {
    files.files["ok"] = Pattern(10);
    EXPECT_THROW(sender.Start(TSendProtocol::YModem, {"ok", "missing"}), ETransferFileError);
    EXPECT_FALSE(sender.Running());
    EXPECT_TRUE(port.Take().empty());
    EXPECT_THROW(sender.Start(TSendProtocol::XModemCrc, {"ok", "ok"}), ETransferFileError);

    files.failReadAt = 128;
    StartCrc(1000);
    ExpectCancelled(SentAfter(kAck), TTransferOutcome::FileError,
                    "Cannot read f: Input/output error");
}

TEST_F(BlockSenderTest, TheUsersCancelASilentLineAndALostLineEndIt) {
    const std::vector<std::tuple<void (TBlockSender::*)(), TTransferOutcome, std::string>> cancels =
        {{&TBlockSender::UserCancel, TTransferOutcome::CancelledHere, "Transfer Aborted."},
         {&TBlockSender::LineSilent, TTransferOutcome::TimedOut, "Timed out"}};
    for (const auto& [cancel, outcome, status] : cancels) {
        StartCrc(500);
        (sender.*cancel)();
        ExpectCancelled(port.Take(), outcome, status);
        (sender.*cancel)(); // stopped: nothing more
        EXPECT_TRUE(port.Take().empty());
    }

    StartCrc(500);
    sender.TransportLost();
    EXPECT_EQ(Status(), "Connection lost.");
    sender.TimeoutTimer();
    sender.UserCancel();
    EXPECT_TRUE(port.Take().empty()) << "nothing goes to a line that has gone";

    // Lost or silent after every file was acknowledged, while the batch's end is out.
    for (const auto end : {&TBlockSender::TransportLost, &TBlockSender::LineSilent}) {
        SendEmptyBatchToItsEnd();
        (sender.*end)();
        EXPECT_EQ(Status(), "Transfer Complete!");
    }

    // Left unanswered, the batch's end is sent once more, then the batch is complete.
    SendEmptyBatchToItsEnd();
    EXPECT_EQ(Tick(), BatchHeader(""));
    EXPECT_TRUE(sender.Running());
    EXPECT_TRUE(Tick().empty());
    EXPECT_EQ(Status(), "Transfer Complete!");
    EXPECT_FALSE(sender.Running());
}

TEST_F(BlockSenderTest, WaitingForTheStartGivesUpAfterTenTimeouts) {
    files.files["f"] = Pattern(5);
    sender.Start(TSendProtocol::XModemCrc, {"f"});
    EXPECT_EQ(port.timer, TBlockSender::kStartTimeoutMs);
    for (int i = 1; i < TBlockSender::kTries; ++i) {
        sender.TimeoutTimer();
    }
    EXPECT_TRUE(sender.Running());
    EXPECT_TRUE(port.Take().empty());
    ExpectCancelled(Tick(), TTransferOutcome::TimedOut, "Transfer Aborted.");
}

} // namespace
