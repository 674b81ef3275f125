// The ZMODEM receiver against a real sz and the sender against a real rz
// (lrzsz), with no window: batches of awkward files, names with folders,
// a resumed download, cancels from either side, and a line that spoils bytes.
#include "transfer/zmodem/zmodem_receiver.h"
#include "transfer/zmodem/zmodem_sender.h"
#include "transfer/zmodem/zmodem_status.h"

#include "zmodem_peer.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace telvora;
using namespace telvora::test;
namespace fs = std::filesystem;
namespace status = zmodem_status;

namespace {

constexpr std::int64_t kDate = 1234567890; // a date no fresh file has

class ZmodemPeerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(std::system("command -v sz >/dev/null && command -v rz >/dev/null"), 0)
            << "lrzsz is needed (scripts/install-deps.sh installs it)";
        fs::create_directories(sent());
        fs::create_directories(received());
    }
    fs::path sent() const { return folder.Path() / "sent"; }
    fs::path received() const { return folder.Path() / "received"; }
    void Put(const std::string& name, const std::string& content) {
        WriteFile(sent() / name, content);
        const struct timespec times[2] = {{kDate, 0}, {kDate, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (sent() / name).c_str(), times, 0), 0);
    }
    static std::int64_t ModifiedOf(const fs::path& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 ? info.st_mtime : -1;
    }

    // Sz sends the names from the sent folder to our receiver.
    bool Receive(const std::vector<std::string>& names, TExistingFile existing,
                 const DriveOptions& options = {}, std::vector<std::string> argv = {"sz", "-q"}) {
        argv.insert(argv.end(), names.begin(), names.end());
        child.emplace(argv, sent());
        receiver.Start(received().string(), existing);
        return Drive(receiver, port, *child, options);
    }
    // Our sender sends the names from the sent folder to rz.
    bool Send(const std::vector<std::string>& names, const DriveOptions& options = {},
              const std::vector<std::string>& argv = {"rz", "-q"}) {
        child.emplace(argv, received());
        std::vector<std::string> paths;
        for (const std::string& name : names) {
            paths.push_back((sent() / name).string());
        }
        sender.Start(paths);
        return Drive(sender, port, *child, options);
    }
    bool Transfer(bool receiving, const std::vector<std::string>& names,
                  const DriveOptions& options) {
        return receiving ? Receive(names, TExistingFile::Overwrite, options) : Send(names, options);
    }

    TempFolder folder;
    LinePort port;
    TZmodemDiskFiles files;
    TZmodemReceiver receiver{port, files};
    TZmodemDiskSource source;
    TZmodemSender sender{port, source};
    std::optional<ZmodemChild> child;
};

// ---------------------------------------------------------------- receiving from sz

class ReceiveFromSz : public ZmodemPeerTest {};

struct TSzBatch {
    const char* name;
    std::vector<std::string> sz;    // its command line, before the names
    std::vector<std::size_t> sizes; // random files, after one of awkward bytes
    // The last file took no more subpackets than ones of this size would:
    // sz used them.
    std::size_t meanSubpacket;
};

// Named in test lists and failures by its row, not its bytes.
void PrintTo(const TSzBatch& batch, std::ostream* out) {
    *out << batch.name;
}

class ReceiveBatchFromSz : public ReceiveFromSz, public ::testing::WithParamInterface<TSzBatch> {};

TEST_P(ReceiveBatchFromSz, ArrivesWholeAndDated) {
    std::vector<std::string> names{"awkward.bin"};
    Put("awkward.bin", AwkwardContent());
    for (std::size_t size : GetParam().sizes) {
        names.push_back("random" + std::to_string(names.size()) + ".bin");
        Put(names.back(), RandomContent(size, static_cast<unsigned>(names.size())));
    }
    ASSERT_TRUE(Receive(names, TExistingFile::Overwrite, {}, GetParam().sz));
    EXPECT_EQ(port.progress.status, status::kComplete);
    EXPECT_EQ(child->WaitExit(std::chrono::seconds(10)), 0) << "sz saw a failed transfer";
    for (const std::string& name : names) {
        EXPECT_TRUE(ReadFile(received() / name) == ReadFile(sent() / name)) << name;
        EXPECT_EQ(ModifiedOf(received() / name), kDate) << name;
    }
    const std::size_t last = GetParam().sizes.back();
    EXPECT_LE(port.progress.blocks,
              (last + GetParam().meanSubpacket - 1) / GetParam().meanSubpacket);
    EXPECT_EQ(port.progress.errorCount, 0);
    EXPECT_EQ(port.ended, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Subpackets, ReceiveBatchFromSz,
    ::testing::Values(
        TSzBatch{"Plain", {"sz", "-q"}, {0, 300 * 1024 + 17}, 1024},
        TSzBatch{"Try8k", {"sz", "-q", "--try-8k"}, {0, 1, 8191, 8192, 8193, 100000}, 4096},
        TSzBatch{"Start8k", {"sz", "-q", "--start-8k"}, {0, 1, 8191, 8192, 8193, 100000}, 8192},
        // Every control character escaped, and a ZSINIT in hex.
        TSzBatch{"Start8kEscaped", {"sz", "-q", "--start-8k", "-e"}, {8191, 8192, 100000}, 8192}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(ReceiveFromSz, AFolderInTheSentNameStaysOutside) {
    fs::create_directories(sent() / "inner");
    Put("outer.bin", "from the folder above\n");
    child.emplace(std::vector<std::string>{"sz", "-q", "../outer.bin"}, sent() / "inner");
    receiver.Start((received() / "here").string(), TExistingFile::Overwrite);
    fs::create_directories(received() / "here");
    ASSERT_TRUE(Drive(receiver, port, *child));
    EXPECT_EQ(port.progress.status, status::kComplete);
    EXPECT_EQ(ReadFile(received() / "here" / "outer.bin"), "from the folder above\n");
    EXPECT_FALSE(fs::exists(received() / "outer.bin"));
}

TEST_F(ReceiveFromSz, ANameThatIsAFifoInTheFolderIsNoFileToWrite) {
    const fs::path fifo = received() / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // With a reader, the open of the FIFO succeeds; without one, it would wait.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_THROW(files.Create(fifo.string()), ETransferFileError);
    EXPECT_THROW(files.OpenForAppend(fifo.string()), ETransferFileError);
    ::close(reader);
    EXPECT_THROW(files.Create(fifo.string()), ETransferFileError);
    files.Create((received() / "plain").string());
    const std::uint8_t byte = 'x';
    files.Append(&byte, 1);
    files.Close();
    EXPECT_EQ(ReadFile(received() / "plain"), "x");
}

TEST_F(ReceiveFromSz, ALinkUnderTheSentNameIsNeverFollowed) {
    Put("f.bin", RandomContent(20000, 15));
    const fs::path target = folder.Path() / "elsewhere";
    for (auto choice : {TExistingFile::Resume, TExistingFile::Overwrite, TExistingFile::Skip}) {
        SCOPED_TRACE(static_cast<int>(choice));
        fs::remove_all(received());
        fs::create_directories(received());
        WriteFile(target, "theirs");
        fs::create_symlink(target, received() / "f.bin");
        ASSERT_TRUE(Receive({"f.bin"}, choice));
        EXPECT_EQ(port.progress.status, status::kComplete);
        EXPECT_EQ(ReadFile(target), "theirs");
        const std::string renamed = ReadFile(received() / "f.1.bin");
        EXPECT_TRUE(renamed == (choice == TExistingFile::Skip ? "" : ReadFile(sent() / "f.bin")));
    }
}

TEST_F(ReceiveFromSz, APartialFileIsResumedWithoutTheDataItHas) {
    const std::string content = RandomContent(200 * 1024, 2);
    const std::size_t have = 70001;
    Put("big.bin", content);
    WriteFile(received() / "big.bin", content.substr(0, have));
    ASSERT_TRUE(Receive({"big.bin"}, TExistingFile::Resume));
    EXPECT_EQ(port.progress.status, status::kComplete);
    EXPECT_EQ(ReadFile(received() / "big.bin"), content);
    EXPECT_EQ(receiver.BytesWritten(), content.size() - have) << "the bytes we had came again";
    EXPECT_EQ(child->WaitExit(std::chrono::seconds(10)), 0);
}

TEST_F(ReceiveFromSz, TheQuestionForAnExistingFileIsAskedOnceAndItsAnswerKept) {
    Put("one.bin", RandomContent(5000, 3));
    Put("two.bin", RandomContent(7000, 4));
    WriteFile(received() / "one.bin", "mine");
    WriteFile(received() / "two.bin", "mine too");
    std::vector<std::string> asked;
    receiver.SetAskExisting([&](const std::string& path) { asked.push_back(path); });
    DriveOptions options;
    options.step = [&] {
        if (receiver.WaitingForChoice()) {
            receiver.Choose(TExistingFile::Rename);
        }
    };
    ASSERT_TRUE(Receive({"one.bin", "two.bin"}, TExistingFile::Ask, options));
    EXPECT_EQ(port.progress.status, status::kComplete);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], (received() / "one.bin").string());
    EXPECT_EQ(ReadFile(received() / "one.bin"), "mine");
    EXPECT_EQ(ReadFile(received() / "two.bin"), "mine too");
    EXPECT_EQ(ReadFile(received() / "one.1.bin"), ReadFile(sent() / "one.bin"));
    EXPECT_EQ(ReadFile(received() / "two.1.bin"), ReadFile(sent() / "two.bin"));
}

TEST_F(ReceiveFromSz, ASkippedFileIsLeftAloneAndTheNextArrives) {
    Put("old.bin", RandomContent(9000, 5));
    Put("new.bin", RandomContent(9000, 6));
    WriteFile(received() / "old.bin", "keep me");
    ASSERT_TRUE(Receive({"old.bin", "new.bin"}, TExistingFile::Skip));
    EXPECT_EQ(port.progress.status, status::kComplete);
    EXPECT_EQ(ReadFile(received() / "old.bin"), "keep me");
    EXPECT_EQ(ReadFile(received() / "new.bin"), ReadFile(sent() / "new.bin"));
}

// ---------------------------------------------------------------- sending to rz

class SendToRz : public ZmodemPeerTest {};

TEST_F(SendToRz, ABatchOfRandomEmptyAndAwkwardFilesArrivesWholeAndDated) {
    const std::string random = RandomContent(300 * 1024 + 5, 11);
    Put("random.bin", random);
    Put("empty", "");
    Put("awkward.bin", AwkwardContent());
    ASSERT_TRUE(Send({"random.bin", "empty", "awkward.bin"}));
    EXPECT_EQ(port.progress.status, status::kComplete);
    EXPECT_EQ(child->WaitExit(std::chrono::seconds(10)), 0) << "rz saw a failed transfer";
    EXPECT_EQ(ReadFile(received() / "random.bin"), random);
    EXPECT_TRUE(fs::exists(received() / "empty"));
    EXPECT_EQ(ReadFile(received() / "awkward.bin"), AwkwardContent());
    EXPECT_EQ(ModifiedOf(received() / "random.bin"), kDate);
    EXPECT_EQ(sender.SubpacketSize(), TZmodemSender::kLargestSubpacket)
        << "clean runs to rz, which streams and checks CRC-32, grow the subpackets";
}

TEST_F(SendToRz, ARzThatWantsControlsEscapedGetsThemEscaped) {
    Put("awkward.bin", AwkwardContent());
    ASSERT_TRUE(Send({"awkward.bin"}, {}, {"rz", "-q", "-e"}));
    EXPECT_EQ(port.progress.status, status::kComplete);
    EXPECT_EQ(child->WaitExit(std::chrono::seconds(10)), 0);
    EXPECT_EQ(ReadFile(received() / "awkward.bin"), AwkwardContent());
}

// ---------------------------------------------------------------- both ways

// A cancel from either side in the middle of a large file, receiving from sz
// and sending to rz.
struct TCancel {
    const char* name;
    bool receiving;
    bool peerStops; // the peer is stopped; otherwise the user cancels here
    unsigned seed;
};

void PrintTo(const TCancel& row, std::ostream* out) {
    *out << row.name;
}

class CancelAgainstPeer : public ZmodemPeerTest, public ::testing::WithParamInterface<TCancel> {};

TEST_P(CancelAgainstPeer, EndsBothSides) {
    const TCancel& row = GetParam();
    const std::string content = RandomContent(16 * 1024 * 1024, row.seed);
    Put("huge.bin", content);
    const std::int64_t cancelAt = row.receiving && !row.peerStops ? 128 * 1024 : 256 * 1024;
    bool acted = false;
    DriveOptions options;
    options.step = [&] {
        if (acted || port.progress.bytes <= cancelAt) {
            return;
        }
        acted = true;
        if (row.peerStops) {
            child->Signal(SIGTERM);
        } else if (row.receiving) {
            receiver.UserCancel();
        } else {
            sender.UserCancel();
        }
    };
    ASSERT_TRUE(Transfer(row.receiving, {"huge.bin"}, options));
    EXPECT_TRUE(acted);
    if (row.peerStops) {
        EXPECT_EQ(port.progress.status, status::kCancelledByPeer);
    } else {
        EXPECT_EQ(port.progress.status, status::kCancelled);
        const auto exit = child->WaitExit(std::chrono::seconds(20));
        ASSERT_TRUE(exit.has_value()) << "the peer still runs";
        EXPECT_NE(*exit, 0);
    }
    if (row.receiving && row.peerStops) {
        // What came before the peer's cancel is kept.
        const std::string kept = ReadFile(received() / "huge.bin");
        EXPECT_GT(kept.size(), 256u * 1024u);
        EXPECT_LT(kept.size(), content.size());
        EXPECT_TRUE(kept == content.substr(0, kept.size()));
    }
}

INSTANTIATE_TEST_SUITE_P(BothWays, CancelAgainstPeer,
                         ::testing::Values(TCancel{"SzStoppedSendsItsCancelAndWeKeepWhatCame", true,
                                                   true, 7},
                                           TCancel{"OurCancelStopsSz", true, false, 8},
                                           TCancel{"OurCancelMakesRzFail", false, false, 12},
                                           TCancel{"RzStoppedEndsOurSending", false, true, 13}),
                         [](const auto& row) { return std::string(row.param.name); });

class NoisyLine : public ZmodemPeerTest, public ::testing::WithParamInterface<bool> {};

TEST_P(NoisyLine, ThatSpoilsAndDropsBytesStillGivesTheSameFiles) {
    const bool receiving = GetParam();
    const std::string random = RandomContent(400 * 1024, receiving ? 9 : 14);
    Put("random.bin", random);
    Put("awkward.bin", AwkwardContent());
    LineNoise noise(2000, 350 * 1024, 6000, receiving ? 42 : 43);
    DriveOptions options;
    (receiving ? options.toCore : options.toPeer) = &noise;
    options.limit = std::chrono::seconds(120);
    ASSERT_TRUE(Transfer(receiving, {"random.bin", "awkward.bin"}, options));
    EXPECT_EQ(port.progress.status, status::kComplete);
    EXPECT_GT(noise.damaged, 20);
    EXPECT_GT(port.progress.errorCount, 0);
    if (!receiving) {
        EXPECT_EQ(child->WaitExit(std::chrono::seconds(10)), 0);
    }
    EXPECT_TRUE(ReadFile(received() / "random.bin") == random);
    EXPECT_EQ(ReadFile(received() / "awkward.bin"), AwkwardContent());
}

INSTANTIATE_TEST_SUITE_P(BothWays, NoisyLine, ::testing::Bool(),
                         [](const auto& row) { return row.param ? "FromSz" : "ToRz"; });

} // namespace
