// Uploads to a real receiver, lrzsz's rz: behind a Telnet-style relay on
// loopback (255 sent doubled arrives single, as through a Telnet server in
// binary mode) and on the far end of a pseudo-terminal pair (a serial
// line); through a relay that spoils the line now and then; and our own
// sender to our own receiver. The files that arrive must be the files sent.

#include "lrzsz_test_support.h"
#include "tcp_relay.h"

#include <gtest/gtest.h>

#include <future>

using namespace telvora::test;
namespace fs = std::filesystem;

namespace {

class Uploads : public LrzszTest {
protected:
    static std::string Rz(const std::string& arguments) { return "rz " + arguments; }
    int ReceiverOverTcp(const std::string& rzArguments) {
        return PeerOverTcp(Rz(rzArguments), root / "received");
    }
    Outcome Send(const std::string& connection, const std::string& send) {
        return RunTelvora("--headless --exit-when-done " + connection + " " + send);
    }
    std::string Path(const std::string& name) { return Quote((root / "sent" / name).string()); }
    // X-Modem knows no length: the file arrives filled to its last block.
    void ExpectFilled(const std::string& name, const std::string& content) {
        const std::string received = Read(root / "received" / name);
        ASSERT_GE(received.size(), content.size()) << name;
        EXPECT_TRUE(received.compare(0, content.size(), content) == 0) << name;
        EXPECT_LT(received.size() - content.size(), 1024u);
        EXPECT_EQ(received.find_first_not_of('\x1a', content.size()), std::string::npos);
    }

    // X-Modem: rz exits the moment it has acknowledged the EOT, and that
    // last reply does not always leave its pty before the line closes; the
    // run then says the line was lost after every block was acknowledged.
    static void ExpectSentWhole(const Outcome& run, std::size_t size) {
        const bool complete = run.err.find("Transfer Complete!") != std::string::npos;
        const std::string all = std::to_string(size) + " of " + std::to_string(size) + " bytes";
        const bool endLost = run.err.find(all) != std::string::npos &&
                             run.err.find("Connection lost.") != std::string::npos;
        EXPECT_TRUE(complete || endLost) << run.err;
        EXPECT_EQ(run.status, complete ? 0 : 1);
    }

    // 255, CR, CR NUL and CR LF among random bytes.
    static std::string LineBytes(std::size_t size, unsigned seed) {
        std::string bytes = RandomBytes(size, seed);
        bytes.replace(10, 8, std::string("\xff\xff\r\0\r\n\xff\r", 8));
        return bytes;
    }
};

TEST_F(Uploads, XModemCrcAndXModem1kReachRzThroughATelnetServer) {
    const std::string content = LineBytes(5000, 11);
    Write("file.bin", content);
    for (const std::string mode : {"--send-xmodem", "--send-xmodem-1k"}) {
        const int port = ReceiverOverTcp("--xmodem --with-crc -y file.bin");
        TTcpRelay relay(port, std::chrono::seconds(90), {}, TTcpRelay::FromClient::TelnetStyle);
        const Outcome run = Send("--telnet 127.0.0.1:" + std::to_string(relay.Port()),
                                 mode + " " + Path("file.bin"));
        ExpectSentWhole(run, content.size());
        WaitForPeer();
        ExpectFilled("file.bin", content);
        StopPeer();
        fs::remove(root / "received" / "file.bin");
    }
}

TEST_F(Uploads, AYModemBatchReachesRzWithEveryFileAtItsLength) {
    const std::vector<std::pair<std::string, std::string>> files = {
        {"random.bin", RandomBytes(250000, 12)},
        {"empty.bin", ""},
        {"ends-in-fill.bin", std::string("data\x1a\x1a\x1a")},
        {"telnet.bin", LineBytes(3000, 13)},
    };
    std::string arguments;
    for (const auto& [name, content] : files) {
        Write(name, content);
        arguments += " --send-ymodem " + Path(name);
    }
    const int port = ReceiverOverTcp("--ymodem -y");
    TTcpRelay relay(port, std::chrono::seconds(90), {}, TTcpRelay::FromClient::TelnetStyle);
    const Outcome run = Send("--telnet 127.0.0.1:" + std::to_string(relay.Port()), arguments);
    EXPECT_EQ(run.status, 0) << run.err;
    WaitForPeer();
    for (const auto& [name, content] : files) {
        const fs::path received = root / "received" / name;
        ASSERT_TRUE(fs::exists(received)) << name << "\n" << run.err;
        EXPECT_TRUE(Read(received) == content) << name;
    }
}

TEST_F(Uploads, ASerialLineCarriesXModem1kAndYModemToRz) {
    const std::string content = LineBytes(20000, 14);
    Write("serial.bin", content);
    // rz asks once it has slept a moment: by then the line is open here.
    const std::string line = PeerOverSerial(
        Rz("--delay-startup 1 --xmodem --with-crc -y serial.bin"), root / "received");
    const Outcome single =
        Send("--serial " + Quote(line), "--send-xmodem-1k " + Path("serial.bin"));
    ExpectSentWhole(single, content.size());
    WaitForPeer();
    ExpectFilled("serial.bin", content);
    StopPeer();
    fs::remove(root / "received" / "serial.bin");

    const std::string batchLine =
        PeerOverSerial(Rz("--delay-startup 1 --ymodem -y"), root / "received");
    const Outcome batch =
        Send("--serial " + Quote(batchLine), "--send-ymodem " + Path("serial.bin"));
    EXPECT_EQ(batch.status, 0) << batch.err;
    WaitForPeer();
    EXPECT_TRUE(Read(root / "received" / "serial.bin") == content);
}

TEST_F(Uploads, ALineThatSpoilsBytesAndStallsStillDeliversTheFiles) {
    const std::string first = RandomBytes(40000, 15);
    const std::string second = LineBytes(9000, 16);
    Write("first.bin", first);
    Write("second.bin", second);
    using Fault = TTcpRelay::Fault;
    const auto fromUs = TTcpRelay::Direction::FromClient;
    const std::vector<TTcpRelay::TFault> faults = {
        {fromUs, 3000, Fault::Flip},
        {fromUs, 12000, Fault::Drop},
        {fromUs, 21000, Fault::Repeat},
        {fromUs, 30000, Fault::Stall, std::chrono::milliseconds(2600)},
        {fromUs, 44000, Fault::Flip}, // in the second file
        // A spoiled reply: the block is sent again, and taken once.
        {TTcpRelay::Direction::FromServer, 8, Fault::Flip},
    };
    const int port = ReceiverOverTcp("--ymodem -y");
    TTcpRelay relay(port, std::chrono::seconds(90), faults, TTcpRelay::FromClient::TelnetStyle);
    const Outcome run =
        Send("--telnet 127.0.0.1:" + std::to_string(relay.Port()),
             "--send-ymodem " + Path("first.bin") + " --send-ymodem " + Path("second.bin"));
    EXPECT_EQ(relay.FaultsDone(), 6);
    EXPECT_EQ(run.status, 0) << run.err;
    WaitForPeer();
    EXPECT_TRUE(Read(root / "received" / "first.bin") == first);
    EXPECT_TRUE(Read(root / "received" / "second.bin") == second);
}

TEST_F(Uploads, OurSenderReachesOurReceiverOverASerialLine) {
    const std::vector<std::pair<std::string, std::string>> files = {
        {"one.bin", LineBytes(70000, 17)},
        {"two.bin", std::string("ends in fill\x1a\x1a")},
    };
    for (const auto& [name, content] : files) {
        Write(name, content);
    }
    const std::string near = (root / "near").string();
    const std::string far = (root / "far").string();
    StartPeer("socat PTY,link=" + near + ",raw,echo=0 PTY,link=" + far + ",raw,echo=0", root);
    auto receiver = std::async(std::launch::async, [&] {
        return RunTelvora("--headless --exit-when-done --serial " + Quote(far) +
                          " --receive-ymodem " + Quote((root / "received").string()));
    });
    const Outcome sender = Send("--serial " + Quote(near), "--send-ymodem " + Path("one.bin") +
                                                               " --send-ymodem " + Path("two.bin"));
    EXPECT_EQ(sender.status, 0) << sender.err;
    ASSERT_EQ(receiver.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    const Outcome received = receiver.get();
    EXPECT_EQ(received.status, 0) << received.err;
    for (const auto& [name, content] : files) {
        EXPECT_TRUE(Read(root / "received" / name) == content) << name;
    }
}

} // namespace
