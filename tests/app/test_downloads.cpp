// Downloads from a real sender, lrzsz's sz: behind a TCP relay on loopback
// (a Telnet connection with the filter off, since the relay doubles no 255)
// and on the far end of a pseudo-terminal pair (a serial line). The files
// that arrive must be the files that were sent, also through a relay that
// spoils the line now and then.

#include "loopback_peer.h"
#include "lrzsz_test_support.h"
#include "run_telvora.h"
#include "tcp_relay.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace telvora::test;
namespace fs = std::filesystem;

namespace {

class Downloads : public LrzszTest {
protected:
    // Starts sz with the arguments behind a TCP relay on a free port.
    int ServeOverTcp(const std::string& szArguments) {
        return PeerOverTcp("sz " + szArguments, root / "sent");
    }
    // Starts sz on the far end of a pty pair; returns the near end's path.
    std::string ServeOverSerial(const std::string& szArguments) {
        return PeerOverSerial("sz " + szArguments, root / "sent");
    }
    void StopSender() { StopPeer(); }
    Outcome Receive(const std::string& connection, const std::string& receive) {
        return RunTelvora("--headless --exit-when-done --no-telnet-filter " + connection + " " +
                          receive);
    }
};

TEST_F(Downloads, XModemCrcAndXModem1kDeliverTheFileExactly) {
    const std::string content = RandomBytes(150000, 1);
    Write("file.bin", content);
    for (const std::string mode : {"--xmodem file.bin", "--xmodem -k file.bin"}) {
        const int port = ServeOverTcp(mode);
        const fs::path received = root / "received" / "file.bin";
        const Outcome run = Receive("--telnet 127.0.0.1:" + std::to_string(port),
                                    "--receive-xmodem " + Quote(received.string()));
        EXPECT_EQ(run.status, 0) << mode << "\n" << run.err;
        EXPECT_NE(run.err.find("Transfer Complete!"), std::string::npos) << run.err;
        EXPECT_TRUE(Read(received) == content) << mode;
        StopSender();
    }
}

TEST_F(Downloads, AYModemBatchDeliversEveryFileIntoTheFolder) {
    const std::vector<std::pair<std::string, std::string>> files = {
        {"random.bin", RandomBytes(300000, 2)},
        {"empty.bin", ""},
        // Ends in what the sender fills with: kept, since the header gives the length.
        {"ends-in-fill.bin", std::string("data\x1a\x0b\x1a")},
        {"telnet.txt", std::string("IAC\xff\xff and CR\r\0 NUL\r\nend", 23)},
    };
    std::string names;
    for (const auto& [name, content] : files) {
        Write(name, content);
        names += " " + name;
    }
    const int port = ServeOverTcp("--ymodem" + names);
    const Outcome run = Receive("telnet://127.0.0.1:" + std::to_string(port),
                                "--receive-ymodem " + Quote((root / "received").string()));
    EXPECT_EQ(run.status, 0) << run.err;
    for (const auto& [name, content] : files) {
        const fs::path received = root / "received" / name;
        ASSERT_TRUE(fs::exists(received)) << name << "\n" << run.err;
        EXPECT_TRUE(Read(received) == content) << name;
    }
}

TEST_F(Downloads, ASerialLineDeliversXModemAndYModemToo) {
    const std::string content = RandomBytes(40000, 3);
    Write("serial.bin", content);
    const std::string line = ServeOverSerial("--xmodem -k serial.bin");
    const fs::path received = root / "received" / "serial.bin";
    const Outcome single = Receive("--serial " + Quote(line) + " --baud 9600 --flow rtscts",
                                   "--receive-xmodem-1k " + Quote(received.string()));
    EXPECT_EQ(single.status, 0) << single.err;
    EXPECT_TRUE(Read(received) == content);
    StopSender();
    fs::remove(received);

    const std::string batchLine = ServeOverSerial("--ymodem serial.bin");
    const Outcome batch = Receive("--serial " + Quote(batchLine),
                                  "--receive-ymodem " + Quote((root / "received").string()));
    EXPECT_EQ(batch.status, 0) << batch.err;
    EXPECT_TRUE(Read(received) == content);
}

TEST_F(Downloads, ASenderThatGivesUpFailsTheRun) {
    // sz gives up on a file that does not exist before it sends anything:
    // its cancel reaches the download, or the relay closes the line before
    // the download began or while it waited for its first block. The run
    // fails every way.
    const int port = ServeOverTcp("--xmodem no-such-file");
    const Outcome run = Receive("--telnet 127.0.0.1:" + std::to_string(port),
                                "--receive-xmodem " + Quote((root / "received" / "x").string()));
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_TRUE(run.err.find("Connection lost.") != std::string::npos ||
                run.err.find("Connection closed by remote host.") != std::string::npos ||
                run.err.find("Sender Aborted Transfer!") != std::string::npos)
        << run.err;
}

} // namespace

namespace {

using Fault = TTcpRelay::Fault;

// Now and then along what the sender sends: a flipped byte (a bad CRC), a
// lost one (a short block, so the receiver times out), a repeated one (a
// long block, then a stray byte) and a stall past the block timeout.
std::vector<TTcpRelay::TFault> NowAndThen(std::size_t first, std::size_t spacing) {
    const Fault kinds[] = {Fault::Flip, Fault::Drop, Fault::Repeat, Fault::Stall};
    std::vector<TTcpRelay::TFault> faults;
    std::size_t offset = first;
    for (const Fault kind : kinds) {
        faults.push_back({TTcpRelay::Direction::FromServer, offset, kind,
                          std::chrono::milliseconds(kind == Fault::Stall ? 2600 : 0)});
        offset += spacing;
    }
    return faults;
}

TEST_F(Downloads, ALineThatSpoilsBytesAndStallsStillDeliversTheFilesExactly) {
    const std::string single = RandomBytes(60000, 4);
    Write("single.bin", single);
    {
        const int port = ServeOverTcp("--xmodem -k single.bin");
        TTcpRelay relay(port, std::chrono::seconds(60), NowAndThen(5000, 12000));
        const fs::path received = root / "received" / "single.bin";
        const Outcome run = Receive("--telnet 127.0.0.1:" + std::to_string(relay.Port()),
                                    "--receive-xmodem-1k " + Quote(received.string()));
        EXPECT_EQ(relay.FaultsDone(), 4);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(Read(received) == single);
        StopSender();
    }
    const std::string first = RandomBytes(50000, 5);
    const std::string second = RandomBytes(30000, 6);
    Write("first.bin", first);
    Write("second.bin", second);
    // The second round of faults falls in the second file and its header.
    std::vector<TTcpRelay::TFault> faults = NowAndThen(3000, 11000);
    for (const TTcpRelay::TFault& fault : NowAndThen(52000, 7000)) {
        faults.push_back(fault);
    }
    const int port = ServeOverTcp("--ymodem first.bin second.bin");
    TTcpRelay relay(port, std::chrono::seconds(60), faults);
    const Outcome run = Receive("--telnet 127.0.0.1:" + std::to_string(relay.Port()),
                                "--receive-ymodem " + Quote((root / "received").string()));
    EXPECT_EQ(relay.FaultsDone(), 8);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Read(root / "received" / "first.bin") == first);
    EXPECT_TRUE(Read(root / "received" / "second.bin") == second);
}

} // namespace
