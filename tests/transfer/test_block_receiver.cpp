// The block receiver driven byte by byte, with a fake line, a manual timer
// and files in memory: what it answers, what it shows and what it writes;
// and a Y-Modem-G batch from a real sz.
#include "transfer/batch_file_name.h"
#include "transfer/block_crc.h"
#include "transfer/block_receiver.h"

#include "transfer_fakes.h"
#include "zmodem_peer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <vector>

using namespace telvora;
using namespace telvora::test;

namespace {

constexpr std::uint8_t kG = TBlockCodes::kStreamRequest;

class MemoryFiles : public TReceiverFiles {
public:
    void Create(const std::string& path) override {
        if (failCreate) {
            throw ETransferFileError("Cannot create " + path + ": Permission denied");
        }
        files[path].clear();
        open = path;
    }
    void Append(const std::uint8_t* data, std::size_t count) override {
        if (failAppend) {
            throw ETransferFileError("Cannot write " + open + ": No space left on device");
        }
        files[open].insert(files[open].end(), data, data + count);
    }
    void Close() override { open.clear(); }
    void CloseQuietly() override { open.clear(); }
    bool IsOpen() const override { return !open.empty(); }
    bool IsPlainFile(const std::string& path) override { return files.count(path) != 0; }
    void StripFill(const std::string& path) override {
        Bytes& file = files[path];
        const std::size_t window = std::min<std::size_t>(file.size(), 4096);
        file.resize(LengthWithoutFill(file.size(), file.data() + file.size() - window, window));
    }
    void CutTo(const std::string& path, std::uint64_t length) override {
        files[path].resize(std::min<std::size_t>(files[path].size(), length));
    }

    std::map<std::string, Bytes> files;
    std::string open;
    bool failCreate = false;
    bool failAppend = false;
};

// A short block's content as it is written: the text, then the fill.
Bytes Filled(const std::string& text) {
    Bytes data = Text(text);
    data.resize(128, 0x1A);
    return data;
}

// A receiver on a fake line, with its files in memory or on disk.
template <typename Files = MemoryFiles> struct Receiving {
    void Feed(const Bytes& bytes) { receiver.ReceiveChunk(bytes.data(), bytes.size()); }
    void Feed(std::uint8_t byte) { Feed(Bytes{byte}); }
    // What the receiver answers to these bytes, or to a tick.
    Bytes AnswerTo(const Bytes& bytes) {
        Feed(bytes);
        return port.Take();
    }
    Bytes AnswerTo(std::uint8_t byte) { return AnswerTo(Bytes{byte}); }
    Bytes Tick() {
        receiver.TimeoutTimer();
        return port.Take();
    }
    const std::string& Status() const { return port.progress.status; }
    // An ending with our cancel: nothing answers the fault, the transfer
    // ends saying why, and the next tick sends the three CANs and nothing
    // else (none when the sender cancelled).
    void ExpectCancelled(TTransferOutcome outcome, const std::string& status) {
        EXPECT_TRUE(port.Take().empty()) << "no answer to the fault";
        EXPECT_EQ(port.progress.outcome, outcome) << status;
        EXPECT_EQ(Status(), status);
        EXPECT_TRUE(port.progress.ended);
        EXPECT_EQ(port.transferModeEnded, 1);
        receiver.TimeoutTimer();
        const bool theirs = outcome == TTransferOutcome::CancelledByPeer;
        EXPECT_EQ(port.Take(), theirs ? Bytes{} : Bytes(3, kCan)) << status;
        EXPECT_EQ(receiver.RxState(), TBlockReceiver::State::Stopped);
    }

    FakePort port;
    Files files;
    TBlockReceiver receiver{port, files};
};

class BlockReceiverTest : public ::testing::Test, public Receiving<> {};

TEST(BlockCrcTest, IsCrc16Xmodem) {
    const Bytes digits = Text("123456789");
    EXPECT_EQ(BlockCrc(digits.data(), digits.size()), 0x31C3);
    EXPECT_EQ(BlockCrc(nullptr, 0), 0);
}

TEST(BlockCrcTest, TimeoutsFollowTheNominalLineSpeed) {
    EXPECT_EQ(TBlockReceiver::TimeoutFor(128, 19200), 2000);
    EXPECT_EQ(TBlockReceiver::TimeoutFor(1024, 19200), 2000);
    EXPECT_EQ(TBlockReceiver::TimeoutFor(4096, 19200), 3000);
}

TEST_F(BlockReceiverTest, WaitingForTheFirstBlockAsksOnceASecondWithoutErrors) {
    receiver.StartSingle("/dl/file.bin");
    EXPECT_EQ(port.timer, 1000);
    EXPECT_EQ(Status(), "Idle");
    EXPECT_FALSE(port.progress.ended);
    EXPECT_EQ(port.progress.fileName, "/dl/file.bin");
    for (int i = 0; i < 3; ++i) {
        receiver.TimeoutTimer();
    }
    EXPECT_EQ(port.Take(), (Bytes{kC, kC, kC}));
    EXPECT_EQ(Status(), "Waiting for first block...");
    EXPECT_EQ(port.progress.errorCount, 0);
}

TEST_F(BlockReceiverTest, AGoodBlockIsWrittenThenAcknowledged) {
    receiver.StartSingle("f");
    const Bytes data(128, 'd');
    EXPECT_EQ(AnswerTo(Block(kSoh, 1, data)), Bytes{kAck});
    EXPECT_EQ(Status(), "Block OK");
    EXPECT_EQ(port.progress.bytes, 128);
    EXPECT_EQ(port.progress.blocks, 1);
    EXPECT_EQ(files.files["f"], data);
    EXPECT_EQ(port.timer, 2000);
    // The ones' complement of the right CRC passes too.
    EXPECT_EQ(AnswerTo(Block(kSoh, 2, data, true)), Bytes{kAck});
    EXPECT_EQ(files.files["f"].size(), 256u);
}

TEST_F(BlockReceiverTest, TheHeaderByteSetsTheSizeTheTextAndTheTimeout) {
    receiver.StartSingle("f");
    Feed(kStx);
    EXPECT_EQ(Status(), "Receiving Block (Y-Modem)");
    EXPECT_EQ(port.timer, 2000);
    const Bytes rest = Block(kStx, 1, Bytes(1024, 'y'));
    EXPECT_EQ(AnswerTo(Bytes(rest.begin() + 1, rest.end())), Bytes{kAck});
    Feed('F');
    EXPECT_EQ(Status(), "Receiving Block (F-Modem)");
    EXPECT_EQ(port.timer, 3000);
    const Bytes big = Block('F', 2, Bytes(4096, 'f'));
    EXPECT_EQ(AnswerTo(Bytes(big.begin() + 1, big.end())), Bytes{kAck});
    EXPECT_EQ(files.files["f"].size(), 1024u + 4096u);
    Feed(kSoh);
    EXPECT_EQ(Status(), "Receiving Block (X-Modem)");
}

TEST_F(BlockReceiverTest, AWrongComplementIsRefusedOnceTheRestOfTheBlockHasPassed) {
    receiver.StartSingle("f");
    Feed(Bytes{kSoh, 3, 0x00});
    EXPECT_EQ(Status(), "Invalid Block ID");
    EXPECT_EQ(port.progress.errorCount, 1);
    EXPECT_TRUE(AnswerTo(Bytes{'a', 'b', 0x1A, kSoh, 4, 0xFB}).empty())
        << "no answer while the block still arrives";
    EXPECT_EQ(port.timer, TBlockReceiver::kQuietMs);
    EXPECT_EQ(port.progress.errorCount, 1) << "the rest of the block is no new error";
    EXPECT_EQ(Tick(), Bytes{kNak});
    EXPECT_EQ(port.timer, 2000);
}

TEST_F(BlockReceiverTest, ABadCrcIsRefusedOnceAndTheResentBlockIsTaken) {
    receiver.StartSingle("f");
    Bytes block = Block(kSoh, 1, Text("hello"));
    Bytes spoiled = block;
    spoiled.back() ^= 0x01;
    Feed(spoiled);
    EXPECT_EQ(Status(), "Invalid Block CRC!");
    // A byte too many (the line repeated one): still one answer.
    EXPECT_TRUE(AnswerTo(0x33).empty());
    EXPECT_EQ(Tick(), Bytes{kNak});
    EXPECT_TRUE(files.files["f"].empty());
    EXPECT_EQ(AnswerTo(block), Bytes{kAck});
    EXPECT_EQ(files.files["f"].size(), 128u);
}

TEST_F(BlockReceiverTest, StrayBytesDrawOneRequestWhenTheLineIsQuiet) {
    receiver.StartSingle("f");
    EXPECT_TRUE(AnswerTo(Text("Start your download now\r\n")).empty());
    EXPECT_EQ(Status(), "Invalid Block Type 53");
    EXPECT_EQ(port.progress.errorCount, 1);
    EXPECT_EQ(Tick(), Bytes{kC});
    // A block cut off by a stalled line: the tick asks again, and what comes
    // late of the old block and the sender's resend of it draw one request.
    EXPECT_EQ(AnswerTo(Block(kSoh, 1, Text("one"))), Bytes{kAck});
    const Bytes second = Block(kSoh, 2, Text("two"));
    Feed(Bytes(second.begin(), second.begin() + 40));
    EXPECT_EQ(Tick(), Bytes{kC});
    Feed(Bytes(second.begin() + 40, second.end()));
    Feed(second);
    EXPECT_TRUE(port.Take().empty());
    EXPECT_EQ(Tick(), Bytes{kC});
    EXPECT_EQ(AnswerTo(second), Bytes{kAck});
    EXPECT_EQ(files.files["f"].size(), 256u);
}

TEST_F(BlockReceiverTest, SilenceAfterABlockCountsAnErrorEachTimeout) {
    receiver.StartSingle("f");
    EXPECT_EQ(AnswerTo(Block(kSoh, 1, Text("x"))), Bytes{kAck});
    receiver.TimeoutTimer();
    receiver.TimeoutTimer();
    EXPECT_EQ(port.Take(), (Bytes{kC, kC}));
    EXPECT_EQ(Status(), "Timed out waiting for block.");
    EXPECT_EQ(port.progress.errorCount, 2);
    // A block in progress is dropped by the tick.
    Feed(Bytes{kSoh, 2, 0xFD, 'p'});
    receiver.TimeoutTimer();
    EXPECT_EQ(receiver.RxState(), TBlockReceiver::State::WaitHeader);
}

TEST_F(BlockReceiverTest, EndOfFileTrimsTheFillThenAcknowledgesAndEnds) {
    receiver.StartSingle("f");
    EXPECT_EQ(AnswerTo(Block(kSoh, 1, Text("DATA\x1A\x0B\x1A"))), Bytes{kAck});
    EXPECT_EQ(AnswerTo(kEot), Bytes{kAck});
    EXPECT_EQ(files.files["f"], Text("DATA"));
    EXPECT_FALSE(files.IsOpen());
    EXPECT_EQ(Status(), "Transfer Complete!");
    EXPECT_TRUE(port.progress.ended);
    EXPECT_EQ(port.alerts, 1);
    EXPECT_EQ(port.transferModeEnded, 1);
    EXPECT_EQ(port.timer, 0);
    EXPECT_EQ(receiver.RxState(), TBlockReceiver::State::Stopped);
    EXPECT_TRUE(AnswerTo(Block(kSoh, 2, Text("late"))).empty());
}

TEST_F(BlockReceiverTest, ABatchNamesItsFilesAndEndsWithAnEmptyHeader) {
    receiver.StartBatch("/dl");
    EXPECT_TRUE(port.progress.fileName.empty());
    EXPECT_EQ(AnswerTo(BatchHeader("README.TXT")), Bytes{kAck});
    EXPECT_EQ(port.progress.fileName, "/dl/README.TXT");
    EXPECT_EQ(Status(), "Waiting for first block.");
    EXPECT_EQ(port.progress.bytes, 0);
    EXPECT_EQ(Tick(), Bytes{kC});
    EXPECT_EQ(Status(), "Waiting for first block...");
    Feed(Block(kStx, 1, Bytes(1024, 'r')));
    Feed(Block(kSoh, 2, Text("end")));
    EXPECT_EQ(port.Take(), (Bytes{kAck, kAck}));
    EXPECT_EQ(AnswerTo(kEot), (Bytes{kAck, kC}));
    EXPECT_EQ(Status(), "Waiting for next file...");
    EXPECT_EQ(files.files["/dl/README.TXT"].size(), 1024u + 3u);
    EXPECT_FALSE(port.progress.ended);

    Feed(BatchHeader("SECOND.BIN"));
    Feed(Block(kSoh, 1, Text("2nd")));
    Feed(kEot);
    EXPECT_EQ(files.files["/dl/SECOND.BIN"], Text("2nd"));
    port.Take();
    EXPECT_EQ(AnswerTo(BatchHeader("")), Bytes{kAck});
    EXPECT_EQ(Status(), "Transfer Complete!");
    EXPECT_TRUE(port.progress.ended);
    EXPECT_EQ(port.transferModeEnded, 1);
}

TEST_F(BlockReceiverTest, ABatchThatGetsADataBlockFirstStopsTheWrongProtocol) {
    receiver.StartBatch("/dl");
    Feed(Block(kSoh, 1, Text("single")));
    ExpectCancelled(TTransferOutcome::ProtocolError, "Sender using wrong protocol!");
    EXPECT_TRUE(files.files.empty());
}

TEST_F(BlockReceiverTest, TwoCansAbortOneIsAStrayByteAndInsideABlockTheyAreData) {
    receiver.StartSingle("f");
    Feed(kCan);
    EXPECT_EQ(Status(), "Invalid Block Type 18");
    EXPECT_EQ(port.progress.errorCount, 1);
    EXPECT_EQ(Tick(), Bytes{kC});
    EXPECT_EQ(AnswerTo(Block(kSoh, 1, Bytes(128, kCan))), Bytes{kAck});
    EXPECT_EQ(files.files["f"], Bytes(128, kCan));
    Feed(Bytes{kCan, kCan});
    EXPECT_EQ(receiver.RxState(), TBlockReceiver::State::Stopped) << "no CANs to send back";
    ExpectCancelled(TTransferOutcome::CancelledByPeer, "Sender Aborted Transfer!");
    EXPECT_EQ(files.files["f"].size(), 128u) << "the file stays as received";
}

TEST_F(BlockReceiverTest, TheUsersCancelSendsThreeCansAQuarterSecondLater) {
    receiver.StartSingle("f");
    EXPECT_EQ(AnswerTo(Block(kSoh, 1, Text("kept"))), Bytes{kAck});
    receiver.UserCancel();
    EXPECT_EQ(port.timer, 250);
    EXPECT_FALSE(files.IsOpen());
    ExpectCancelled(TTransferOutcome::CancelledHere, "Transfer Aborted.");
    EXPECT_EQ(port.timer, 0);
    EXPECT_EQ(files.files["f"], Filled("kept"));
}

TEST_F(BlockReceiverTest, ARepeatedBlockIsAcknowledgedButNotWrittenAgain) {
    receiver.StartSingle("f");
    const Bytes first = Block(kSoh, 1, Text("one"));
    Feed(first);
    Feed(first);
    EXPECT_EQ(port.Take(), (Bytes{kAck, kAck}));
    EXPECT_EQ(files.files["f"].size(), 128u);
    EXPECT_EQ(port.progress.blocks, 1);
    EXPECT_EQ(AnswerTo(Block(kSoh, 2, Text("two"))), Bytes{kAck});
    EXPECT_EQ(files.files["f"].size(), 256u);
}

TEST_F(BlockReceiverTest, ABlockOutOfSequenceEndsTheTransferKeepingTheFile) {
    receiver.StartSingle("f");
    EXPECT_EQ(AnswerTo(Block(kSoh, 1, Text("one"))), Bytes{kAck});
    Feed(Block(kSoh, 5, Text("five")));
    ExpectCancelled(TTransferOutcome::ProtocolError, "Block 5 out of sequence (expected 2).");
    EXPECT_EQ(files.files["f"], Filled("one"));
}

TEST_F(BlockReceiverTest, BlockNumbersWrapFrom255To0) {
    receiver.StartSingle("f");
    for (int n = 1; n <= 257; ++n) {
        Feed(Block(kSoh, static_cast<std::uint8_t>(n), Text("b")));
    }
    EXPECT_EQ(port.progress.blocks, 257);
    EXPECT_EQ(port.Take(), Bytes(257, kAck));
}

TEST_F(BlockReceiverTest, ARepeatedHeaderIsAcknowledgedWithoutEmptyingItsFile) {
    receiver.StartBatch("/dl");
    Feed(BatchHeader("A.BIN"));
    Feed(BatchHeader("A.BIN"));
    EXPECT_EQ(port.Take(), (Bytes{kAck, kAck}));
    EXPECT_EQ(AnswerTo(Block(kSoh, 1, Text("a"))), Bytes{kAck});
    Feed(BatchHeader("A.BIN")); // now out of place: block 0 after block 1
    ExpectCancelled(TTransferOutcome::ProtocolError, "Block 0 out of sequence (expected 2).");
    EXPECT_EQ(files.files["/dl/A.BIN"], Filled("a"));
}

TEST_F(BlockReceiverTest, AnEotWithNoFileOpenIsAcknowledgedAndIgnored) {
    receiver.StartBatch("/dl");
    Feed(kEot); // before any header
    EXPECT_EQ(port.Take(), Bytes{kAck});
    Feed(BatchHeader("B"));
    Feed(Block(kSoh, 1, Text("b")));
    Feed(kEot);
    port.Take();
    Feed(kEot); // our ACK was lost
    EXPECT_EQ(port.Take(), Bytes{kAck});
    EXPECT_EQ(Status(), "Waiting for next file...");
    // A data block after the file's end is not written.
    Feed(Block(kSoh, 2, Text("stray")));
    ExpectCancelled(TTransferOutcome::ProtocolError, "Block 2 came after the file ended.");
    EXPECT_EQ(files.files["/dl/B"], Text("b"));
}

TEST_F(BlockReceiverTest, BatchFilesAlwaysLandInTheChosenFolder) {
    receiver.StartBatch("/dl");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"../../x", "/dl/x"},
        {"/etc/passwd", "/dl/passwd"},
        {"C:\\GAMES\\X.COM", "/dl/X.COM"},
        {"C:x", "/dl/x"},
        {"..", "/dl/download-5"},
        {"dir/", "/dl/download-6"},
        {"bell\x07name", "/dl/bell_name"},
    };
    for (const auto& [sent, expected] : cases) {
        Feed(BatchHeader(sent));
        EXPECT_EQ(port.progress.fileName, expected) << sent;
        Feed(kEot);
        port.Take();
    }
    for (const auto& [path, content] : files.files) {
        EXPECT_EQ(path.rfind("/dl/", 0), 0u) << path;
        EXPECT_EQ(path.find("/", 4), std::string::npos) << path;
    }
}

TEST_F(BlockReceiverTest, AnAnnouncedLengthCutsTheFileExactlyAndKeepsItsOwn1ABytes) {
    receiver.StartBatch("/dl");
    // Without a length, with one that is no number or one beyond what
    // arrived (not believed), the fill is removed.
    const std::tuple<std::string, std::string, std::string, std::string> cases[] = {
        {"ENDS1A.BIN", "5 14000000000 100644", "abc\x1A\x1A", "abc\x1A\x1A"},
        {"NOSIZE.BIN", "", "xy\x1A", "xy"},
        {"BADSIZE.BIN", "12x", "pq\x1A", "pq"},
        {"LONG.BIN", "999", "zz\x1A", "zz"},
    };
    for (const auto& [name, extra, sent, kept] : cases) {
        Feed(BatchHeader(name, extra));
        Feed(Block(kSoh, 1, Text(sent)));
        Feed(kEot);
        EXPECT_EQ(files.files["/dl/" + name], Text(kept)) << name;
    }
}

TEST(BatchFileNameTest, KeepsOnlyAUsableLastComponent) {
    std::string accents;
    for (int i = 0; i < 150; ++i) {
        accents += "\u00e9";
    }
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"GAME.XEX", "GAME.XEX"},
        {"a/b\\c", "c"},
        {".", "download-3"},
        {std::string(300, 'n'), std::string(255, 'n')},
        {"tab\tand\x7f", "tab_and_"},
        {accents, accents.substr(0, 254)}, // not cut inside the 128th
        // What prints nothing or turns the text around is no part of a name.
        {"photo\u202Egpj.exe", "photo_gpj.exe"},
        {"\u2066a\u2069\u200E\u200F\u061C\u200B\u200C\u200D\u2060", "_a________"},
        {"\uFEFFbom\u00AD\U000E0041\U000E007F\u0085\u2028", "_bom_____"},
        {"caf\u00e9 \u65e5\u672c\xff", "caf\u00e9 \u65e5\u672c\xff"},
    };
    for (const auto& [sent, saved] : cases) {
        EXPECT_EQ(BatchFileName(sent, 3), saved) << sent;
    }
    // A renamed file keeps its extension last; the stem makes the room.
    const std::pair<std::string, std::string> renamed[] = {
        {std::string(252, 'x') + "\u00e9x", std::string(252, 'x') + ".1"},
        {"short", "short.1"},
        {"report.txt", "report.1.txt"},
        {"archive.tar.gz", "archive.tar.1.gz"},
        {".profile", ".profile.1"},
        {"ends.", "ends..1"},
        {"odd.extension-far-too-long", "odd.extension-far-too-long.1"},
        {std::string(251, 'y') + ".txt", std::string(249, 'y') + ".1.txt"},
    };
    for (const auto& [name, free] : renamed) {
        EXPECT_EQ(NameWithSuffix(name, ".1"), free) << name;
    }
}

// A header's length against what arrived in whole blocks: the last block's
// fill is no error, more or less than that is.
TEST(YModemLengthTest, AFileNotOfItsAnnouncedLengthIsKeptAndTheBatchIsNoSuccess) {
    // Each file: the length its header announces, the header bytes of its blocks.
    using TFile = std::pair<std::string, Bytes>;
    using Outcome = TTransferOutcome;
    const std::vector<std::tuple<std::vector<TFile>, Outcome, std::string>> batches = {
        {{{"100", {kSoh}}, {"1024", {kStx, kSoh}}}, Outcome::Completed, kTransferCompleteText},
        {{{"1000", {kSoh}}},
         Outcome::ProtocolError,
         "F1: 128 of 1000 bytes, shorter than announced"},
        {{{"100", {kSoh, kSoh, kSoh}}},
         Outcome::ProtocolError,
         "F1: 384 of 100 bytes, longer than announced"},
        {{{"1000", {kStx, kStx}}, {"1", {}}, {"5", {kSoh}}},
         Outcome::ProtocolError,
         "F1: 2048 of 1000 bytes, longer than announced; 1 more file not as announced"},
    };
    for (const auto& [batch, outcome, status] : batches) {
        Receiving rig;
        rig.receiver.StartBatch("/dl");
        for (std::size_t i = 0; i < batch.size(); ++i) {
            const auto& [length, blocks] = batch[i];
            rig.Feed(BatchHeader("F" + std::to_string(i + 1), length));
            for (std::size_t n = 0; n < blocks.size(); ++n) {
                rig.Feed(Block(blocks[n], static_cast<std::uint8_t>(n + 1), Text("b")));
            }
            rig.Feed(kEot);
            EXPECT_FALSE(rig.port.progress.ended) << "the batch goes on";
        }
        rig.Feed(BatchHeader(""));
        EXPECT_EQ(rig.port.progress.outcome, outcome) << status;
        EXPECT_EQ(rig.Status(), status);
        EXPECT_EQ(rig.files.files.size(), batch.size()) << "every file is kept";
    }
}

TEST(BlockReceiverOnDisk, AFileWhoseFolderWentIsLostNotComplete) {
    TempFolder folder;
    Receiving<TDiskFiles> rig;
    const std::string in = folder.Path().string();
    rig.receiver.StartBatch(in);
    rig.Feed(BatchHeader("A", "1"));
    rig.Feed(Block(kSoh, 1, Text("a")));
    std::filesystem::remove_all(in);
    rig.port.Take();
    rig.Feed(kEot); // no ACK for the lost file
    rig.ExpectCancelled(TTransferOutcome::FileError, "File lost: " + in + "/A");
}

TEST_F(BlockReceiverTest, AFileThatCannotBeWrittenEndsTheTransferSayingWhy) {
    receiver.StartSingle("f");
    files.failAppend = true;
    Feed(Block(kSoh, 1, Text("x"))); // no ACK for a block that was not written
    ExpectCancelled(TTransferOutcome::FileError, "Cannot write f: No space left on device");
}

TEST_F(BlockReceiverTest, AFileThatCannotBeCreatedStartsNothingOrEndsTheBatch) {
    files.failCreate = true;
    EXPECT_THROW(receiver.StartSingle("g"), ETransferFileError);
    EXPECT_EQ(receiver.RxState(), TBlockReceiver::State::Stopped);
    EXPECT_EQ(port.timer, 0);
    receiver.StartBatch("/dl");
    Feed(BatchHeader("H"));
    ExpectCancelled(TTransferOutcome::FileError, "Cannot create /dl/H: Permission denied");
}

TEST_F(BlockReceiverTest, ALostLineEndsTheTransferAndNothingMoreIsSent) {
    receiver.StartSingle("f");
    receiver.TransportLost();
    EXPECT_EQ(Status(), "Connection lost.");
    EXPECT_TRUE(port.progress.ended);
    EXPECT_EQ(port.timer, 0);
    receiver.TimeoutTimer();
    receiver.UserCancel();
    EXPECT_TRUE(port.Take().empty());
    // A line lost while a cancel's CANs wait keeps the cancel's ending.
    receiver.StartSingle("g");
    port.Take();
    receiver.UserCancel();
    receiver.TransportLost();
    EXPECT_EQ(Status(), "Transfer Aborted.");
    EXPECT_EQ(port.progress.outcome, TTransferOutcome::CancelledHere);
    EXPECT_EQ(port.timer, 0);
    EXPECT_TRUE(Tick().empty());
}

TEST_F(BlockReceiverTest, AGBatchAsksWithGAndAnswersOnlyItsHeadersAndEots) {
    receiver.StartBatch("/dl", true);
    Feed(Text("Download now\r\n")); // before the first header the board may still print
    EXPECT_EQ(Tick(), Bytes{kG});
    EXPECT_EQ(AnswerTo(BatchHeader("G.BIN", "1030")), (Bytes{kAck, kG}));
    Feed(kStx);
    EXPECT_EQ(Status(), "Receiving Block (Y-Modem-G)");
    const Bytes first = Block(kStx, 1, Bytes(1024, 'g'));
    Feed(Bytes(first.begin() + 1, first.end()));
    Feed(Block(kSoh, 2, Text("end\x1A\x1A\x1A")));
    EXPECT_TRUE(port.Take().empty());
    EXPECT_EQ(AnswerTo(kEot), (Bytes{kAck, kG}));
    EXPECT_EQ(files.files["/dl/G.BIN"].size(), 1030u);
    EXPECT_EQ(AnswerTo(BatchHeader("")), Bytes{kAck});
    EXPECT_EQ(port.progress.outcome, TTransferOutcome::Completed);
}

// sz ends a G batch without waiting, and its closing header is often lost
// as its pty closes (or the board runs it and the line only goes quiet): a
// line lost or silent between whole files ends the batch complete; inside a
// file it does not, and silence cancels.
TEST(YModemGTest, AGBatchWhoseLineGoesBetweenFilesIsCompleteButNotInsideOne) {
    for (const bool silent : {false, true}) {
        for (const bool insideAFile : {false, true}) {
            SCOPED_TRACE(std::string(silent ? "silent" : "lost") +
                         (insideAFile ? " inside a file" : " between files"));
            Receiving rig;
            rig.receiver.StartBatch("/dl", true);
            rig.Feed(BatchHeader("A", "4"));
            rig.Feed(Block(kSoh, 1, Text("aaaa")));
            if (!insideAFile) {
                rig.Feed(kEot);
            }
            rig.port.Take();
            silent ? rig.receiver.LineSilent() : rig.receiver.TransportLost();
            const bool timedOut = silent && insideAFile;
            EXPECT_EQ(rig.port.progress.outcome, !insideAFile ? TTransferOutcome::Completed
                                                 : silent     ? TTransferOutcome::TimedOut
                                                              : TTransferOutcome::LineLost);
            EXPECT_EQ(rig.Status() == "Timed out", timedOut);
            rig.receiver.TimeoutTimer();
            rig.receiver.LineSilent(); // once stopped, ignored
            EXPECT_EQ(rig.port.Take(), timedOut ? Bytes(3, kCan) : Bytes{});
        }
    }
}

TEST(YModemGTest, AnyFaultInsideAFileCancelsAtOnceKeepingWhatCame) {
    using Outcome = TTransferOutcome;
    const Bytes good = Block(kSoh, 1, Text("kept"));
    Bytes damaged = Block(kSoh, 2, Text("lost"));
    damaged.back() ^= 0x01;
    const auto g = [](const std::string& why) {
        return "Y-Modem-G: " + why + "; G cannot recover, transfer cancelled.";
    };
    const std::vector<std::tuple<Bytes, bool, Outcome, std::string>> faults = {
        {damaged, false, Outcome::ProtocolError, g("block 2 damaged")},
        {good, false, Outcome::ProtocolError, g("block 1 out of sequence (expected 2)")},
        // What the sender's program prints between blocks is passed over;
        // the block lost in it shows in the next one's number.
        {[] {
             Bytes printed = Text("\r\nSent F.BIN\r\n");
             const Bytes third = Block(kSoh, 3, Text("x"));
             printed.insert(printed.end(), third.begin(), third.end());
             return printed;
         }(),
         false, Outcome::ProtocolError, g("block 3 out of sequence (expected 2)")},
        {{}, true, Outcome::TimedOut, g("timed out waiting for block 2")},
        {Block(kSoh, 2, Text("x")), false, Outcome::FileError,
         g("cannot write /dl/F: No space left on device")},
        // The sender's own cancel is not taken for damage.
        {{kCan, kCan}, false, Outcome::CancelledByPeer, "Sender Aborted Transfer!"},
    };
    for (const auto& [bytes, tick, outcome, status] : faults) {
        Receiving rig;
        rig.receiver.StartBatch("/dl", true);
        rig.Feed(BatchHeader("F"));
        rig.Feed(good);
        EXPECT_EQ(rig.port.Take(), (Bytes{kAck, kG})) << "nothing for the block";
        rig.files.failAppend = outcome == Outcome::FileError;
        rig.Feed(bytes);
        if (tick) {
            rig.receiver.TimeoutTimer();
        }
        rig.ExpectCancelled(outcome, status); // no request to resend, only the CANs
        EXPECT_EQ(rig.files.files["/dl/F"], Filled("kept")) << status;
    }
}

TEST(YModemGTest, SzStreamsABatchThatArrivesWhole) {
    ASSERT_EQ(std::system("command -v sz >/dev/null"), 0) << "lrzsz is needed";
    TempFolder folder;
    const std::map<std::string, std::string> batch = {
        {"odd.bin", RandomContent(100 * 1024 + 333, 1)},
        {"whole.bin", RandomContent(3 * 1024, 2)},
        {"empty", ""}};
    for (const auto& [name, content] : batch) {
        WriteFile(folder.Path() / name, content);
    }
    const std::filesystem::path received = folder.Path() / "in";
    std::filesystem::create_directory(received);
    ZmodemChild sz({"sz", "--ymodem", "odd.bin", "whole.bin", "empty"}, folder.Path());
    LinePort line;
    TDiskFiles disk;
    TBlockReceiver receiver(line, disk);
    receiver.StartBatch(received.string(), true);
    ASSERT_TRUE(Drive(receiver, line, sz));
    EXPECT_EQ(line.progress.outcome, TTransferOutcome::Completed) << line.progress.status;
    EXPECT_EQ(sz.WaitExit(std::chrono::seconds(10)), 0);
    for (const auto& [name, content] : batch) {
        EXPECT_TRUE(std::filesystem::exists(received / name)) << name;
        EXPECT_EQ(ReadFile(received / name), content) << name;
    }
    EXPECT_LT(line.sent, 30u) << "odd.bin alone has over 100 blocks: none is acknowledged";
}

TEST(StripFillOnDisk, RemovesOnlyTheTrailingRunAndAtMost4096Bytes) {
    TempFolder folder;
    const std::string path = (folder.Path() / "f").string();
    const auto trimmed = [&](const Bytes& content) {
        WriteFile(path, std::string(content.begin(), content.end()));
        TDiskFiles().StripFill(path);
        const std::string kept = ReadFile(path);
        return Bytes(kept.begin(), kept.end());
    };
    EXPECT_EQ(trimmed(Bytes{'Q', 0x41, 0x1A, 0x0B, 0x1A}), (Bytes{'Q', 0x41}));
    EXPECT_EQ(trimmed(Bytes{0x1A, 0x41}), (Bytes{0x1A, 0x41}));
    EXPECT_EQ(trimmed(Bytes(10000, 0x1A)).size(), 5904u);
    EXPECT_TRUE(trimmed(Bytes{}).empty());
    EXPECT_TRUE(trimmed(Bytes(7, 0x0B)).empty());
}

TEST(DiskFilesTest, FailuresNameTheFileAndTheReason) {
    TDiskFiles disk;
    try {
        disk.Create("/nonexistent-telvora/f");
        FAIL();
    } catch (const ETransferFileError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Cannot create /nonexistent-telvora/f: No such file or directory");
    }
    disk.Create("/dev/full");
    const std::uint8_t byte = 1;
    EXPECT_THROW(disk.Append(&byte, 1), ETransferFileError);
}

} // namespace
