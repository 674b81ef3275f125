// The block sender driven by reply bytes, with a fake line, a manual timer
// and files in memory: what it sends, what it shows, when it gives up.
#include "transfer/block_sender.h"

#include "transfer_fakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <tuple>

using namespace telvora;
using namespace telvora::test;

namespace {

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
    Reply(Text("Start your upload now\r\n"));
    EXPECT_TRUE(port.Take().empty()) << "the BBS's text is not a start";
    Reply(kC);
    EXPECT_EQ(port.Take(), Block(kSoh, 1, Slice(content, 0, 128)));
    EXPECT_EQ(port.timer, TBlockSender::kReplyTimeoutMs);
    Reply(kAck);
    EXPECT_EQ(port.Take(), Block(kSoh, 2, Slice(content, 128, 72))) << "filled with 0x1A";
    EXPECT_EQ(port.progress.bytes, 128);
    Reply(kAck);
    EXPECT_EQ(port.Take(), Bytes{kEot});
    EXPECT_EQ(port.progress.bytes, 200);
    EXPECT_EQ(port.progress.blocks, 2);
    Reply(kNak); // many receivers refuse the first EOT
    EXPECT_EQ(port.Take(), Bytes{kEot});
    Reply(kAck);
    EXPECT_EQ(Status(), "Transfer Complete!");
    EXPECT_TRUE(port.progress.ended);
    EXPECT_EQ(port.alerts, 1);
    EXPECT_EQ(port.transferModeEnded, 1);
    EXPECT_EQ(port.timer, 0);
    EXPECT_FALSE(sender.Running());
    Reply(kC);
    EXPECT_TRUE(port.Take().empty());
}

TEST_F(BlockSenderTest, ANakStartMeansShortBlocksWithTheChecksum) {
    const Bytes content = Pattern(1500);
    files.files["f"] = content;
    sender.Start(TSendProtocol::XModem1k, {"f"});
    Reply(kNak);
    const Bytes block = port.Take();
    ASSERT_EQ(block.size(), 3u + 128u + 1u);
    EXPECT_EQ(block[0], kSoh);
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < 128; ++i) {
        sum = static_cast<std::uint8_t>(sum + content[i]);
    }
    EXPECT_EQ(block.back(), sum);
}

TEST_F(BlockSenderTest, OneKBlocksWithAShortBlockForASmallTail) {
    const Bytes content = Pattern(1024 + 100);
    files.files["f"] = content;
    sender.Start(TSendProtocol::XModem1k, {"f"});
    Reply(kC);
    EXPECT_EQ(port.Take(), Block(kStx, 1, Slice(content, 0, 1024)));
    Reply(kAck);
    EXPECT_EQ(port.Take(), Block(kSoh, 2, Slice(content, 1024, 100)));
}

TEST_F(BlockSenderTest, RefusalsAndTimeoutsResendAndTheTenthFailureCancels) {
    files.files["f"] = Pattern(300);
    sender.Start(TSendProtocol::XModemCrc, {"f"});
    Reply(kC);
    const Bytes first = port.Take();
    Reply(kNak);
    EXPECT_EQ(port.Take(), first);
    EXPECT_EQ(Status(), "Block refused.");
    Reply(Bytes{kC, kNak}); // a retry request, and a second one for the same block
    EXPECT_EQ(port.Take(), first) << "sent once";
    Reply(0x53); // a spoiled ACK: nothing, the timeout resends
    EXPECT_TRUE(port.Take().empty());
    sender.TimeoutTimer();
    EXPECT_EQ(port.Take(), first);
    EXPECT_EQ(Status(), "Timed out waiting for reply.");
    EXPECT_EQ(port.progress.errorCount, 3);
    Reply(kAck);
    const Bytes second = port.Take();
    EXPECT_EQ(second[1], 2);
    for (int i = 1; i < TBlockSender::kTries; ++i) {
        sender.TimeoutTimer();
        EXPECT_EQ(port.Take(), second) << "try " << i;
    }
    sender.TimeoutTimer();
    EXPECT_EQ(port.Take(), (Bytes{kCan, kCan, kCan}));
    EXPECT_EQ(Status(), "Transfer Aborted.");
    EXPECT_TRUE(port.progress.ended);
    EXPECT_EQ(port.transferModeEnded, 1);
}

TEST_F(BlockSenderTest, TwoCansStopAtOnceAndOneIsNoise) {
    files.files["f"] = Pattern(300);
    sender.Start(TSendProtocol::XModemCrc, {"f"});
    Reply(kC);
    port.Take();
    Reply(Bytes{kCan, kAck});
    EXPECT_EQ(port.Take()[1], 2) << "a lone CAN changes nothing";
    Reply(Bytes{kCan, kCan});
    EXPECT_TRUE(port.Take().empty());
    EXPECT_EQ(Status(), "Receiver Aborted Transfer!");
    EXPECT_FALSE(sender.Running());
    EXPECT_EQ(port.timer, 0);
}

TEST_F(BlockSenderTest, BlockNumbersWrapAfter255AndAnEmptyFileIsJustEot) {
    const Bytes content = Pattern(128 * 257);
    files.files["big"] = content;
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
    Reply(kC);
    Bytes header = Text("one.bin");
    header.push_back(0);
    const Bytes details = Text("1500 754");
    header.insert(header.end(), details.begin(), details.end());
    header.resize(128, 0);
    EXPECT_EQ(port.Take(), Block(kSoh, 0, header)) << "name, NUL, length, octal time";
    Reply(kAck);
    EXPECT_TRUE(port.Take().empty()) << "the data waits for the receiver's C";
    Reply(kC);
    EXPECT_EQ(port.Take(), Block(kStx, 1, Slice(content, 0, 1024)));
    Reply(kAck);
    EXPECT_EQ(port.Take(), Block(kStx, 2, Slice(content, 1024, 476)));
    Reply(kAck);
    EXPECT_EQ(port.Take(), Bytes{kEot});
    Reply(Bytes{kAck, kC});
    Bytes second = Text("none");
    second.push_back(0);
    const Bytes zero = Text("0 754");
    second.insert(second.end(), zero.begin(), zero.end());
    second.resize(128, 0);
    EXPECT_EQ(port.Take(), Block(kSoh, 0, second));
    EXPECT_EQ(port.progress.fileName, "/home/u/none");
    Reply(Bytes{kAck, kC});
    EXPECT_EQ(port.Take(), Bytes{kEot}) << "an empty file has no data block";
    Reply(Bytes{kAck, kC});
    EXPECT_EQ(port.Take(), Block(kSoh, 0, Bytes(128, 0)));
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

    files.files["bad"] = Pattern(1000);
    files.failReadAt = 128;
    sender.Start(TSendProtocol::XModemCrc, {"bad"});
    Reply(kC);
    port.Take();
    Reply(kAck);
    EXPECT_EQ(port.Take(), (Bytes{kCan, kCan, kCan}));
    EXPECT_EQ(Status(), "Cannot read bad: Input/output error");
    EXPECT_TRUE(port.progress.ended);
}

TEST_F(BlockSenderTest, TheUsersCancelASilentLineAndALostLineEndIt) {
    files.files["f"] = Pattern(500);
    const std::vector<std::tuple<void (TBlockSender::*)(), TTransferOutcome, std::string>> cancels =
        {{&TBlockSender::UserCancel, TTransferOutcome::CancelledHere, "Transfer Aborted."},
         {&TBlockSender::LineSilent, TTransferOutcome::TimedOut, "Timed out"}};
    for (const auto& [cancel, outcome, status] : cancels) {
        sender.Start(TSendProtocol::XModemCrc, {"f"});
        Reply(kC);
        port.Take();
        (sender.*cancel)();
        EXPECT_EQ(port.Take(), (Bytes{kCan, kCan, kCan}));
        EXPECT_EQ(Status(), status);
        EXPECT_EQ(port.progress.outcome, outcome);
        (sender.*cancel)(); // stopped: nothing more
        EXPECT_TRUE(port.Take().empty());
    }

    sender.Start(TSendProtocol::XModemCrc, {"f"});
    Reply(kC);
    port.Take();
    sender.TransportLost();
    EXPECT_EQ(Status(), "Connection lost.");
    sender.TimeoutTimer();
    sender.UserCancel();
    EXPECT_TRUE(port.Take().empty()) << "nothing goes to a line that has gone";

    // Lost or silent after every file was acknowledged, while the batch's end is out.
    files.files["g"] = {};
    for (const auto end : {&TBlockSender::TransportLost, &TBlockSender::LineSilent}) {
        sender.Start(TSendProtocol::YModem, {"g"});
        Reply(kC);
        Reply(Bytes{kAck, kC});
        Reply(Bytes{kAck, kC});
        EXPECT_EQ(port.Take().back(), 0) << "the batch's empty header";
        (sender.*end)();
        EXPECT_EQ(Status(), "Transfer Complete!");
    }

    // Left unanswered, the batch's end is sent once more, then the batch is complete.
    sender.Start(TSendProtocol::YModem, {"g"});
    Reply(kC);
    Reply(Bytes{kAck, kC});
    Reply(Bytes{kAck, kC});
    port.Take();
    sender.TimeoutTimer();
    EXPECT_EQ(port.Take(), Block(kSoh, 0, Bytes(128, 0)));
    EXPECT_TRUE(sender.Running());
    sender.TimeoutTimer();
    EXPECT_TRUE(port.Take().empty());
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
    sender.TimeoutTimer();
    EXPECT_EQ(port.Take(), (Bytes{kCan, kCan, kCan}));
    EXPECT_EQ(Status(), "Transfer Aborted.");
}

} // namespace
