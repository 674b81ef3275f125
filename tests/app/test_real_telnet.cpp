// Transfers through a real Telnet server: inetutils telnetd runs lrzsz's sz
// or rz in place of the login program, negotiates at connect and again right
// after, and decodes our direction as Telnet. Files with every kind of byte
// that Telnet treats specially must arrive whole both ways, from the command
// line and from the window.

#include "lrzsz_test_support.h"
#include "program.h"
#include "qt_event_wait.h"
#include "run_telvora.h"

#include "common/message_box.h"
#include "transfer/transfer_window.h"

#include <QStringList>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>

using namespace telvora;
using namespace telvora::test;
namespace fs = std::filesystem;

namespace {

class RealTelnet : public LrzszTest {
protected:
    // What Telnet treats specially: CR NUL, CR LF, a lone CR, 255 and 255 255,
    // a file ending in 0x1A, an empty file and random binary.
    void WriteTheFiles() {
        const std::string cr = "\r";
        files = {{"crnul.bin", "A" + cr + std::string(1, '\0') + "B" + cr + "\nCD" + cr},
                 {"lonecr.bin", "line" + cr + "line" + cr},
                 {"iac.bin", std::string("\xff\xff\xff", 3) + "x" + cr + std::string("\x1a", 1)},
                 {"empty.bin", ""},
                 {"random.bin", RandomBytes(200000, 9)}};
        for (const auto& [name, content] : files) {
            Write(name, content);
        }
    }
    std::string SendArguments() const {
        std::string arguments;
        for (const auto& [name, content] : files) {
            arguments += " --send-ymodem " + Quote((root / "sent" / name).string());
        }
        return arguments;
    }
    void ExpectArrivedWhole(const fs::path& folder) {
        for (const auto& [name, content] : files) {
            EXPECT_TRUE(fs::exists(folder / name)) << name;
            EXPECT_TRUE(Read(folder / name) == content) << name;
        }
    }

    // Runs a transfer window's start, which shows it modally, and closes the
    // window once the transfer has ended (or after a minute).
    static void RunToItsEnd(TTransferWindow& transfer, const std::function<bool()>& start) {
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [&] {
            if (!transfer.Running() && transfer.isVisible()) {
                transfer.done(QDialog::Accepted);
            }
        });
        closer.start(100);
        QTimer::singleShot(60000, &transfer, [&] { transfer.done(QDialog::Rejected); });
        ASSERT_TRUE(start());
        EXPECT_EQ(transfer.Progress().status, "Transfer Complete!");
    }

    // A session and its window connected to the server on the port. What the
    // user would be told (the server hangs up at the end) is kept, not shown.
    Tmain& ConnectedWindow(int port) {
        SetMessageSink([this](const QString& text) { messages << text; });
        program.emplace(Tmain::Sound::Off);
        EXPECT_TRUE(program->session.ConnectTelnet("127.0.0.1", std::to_string(port)));
        EXPECT_TRUE(ProcessEventsUntil([&] { return program->session.LineUp(); }));
        return program->window;
    }
    void TearDown() override {
        program.reset();
        SetMessageSink({});
        LrzszTest::TearDown();
    }

    std::map<std::string, std::string> files;
    std::optional<TProgram> program;
    QStringList messages;
};

TEST_F(RealTelnet, AYModemBatchDownloadArrivesWholeFromTheCommandLine) {
    WriteTheFiles();
    const int port = PeerBehindTelnetd(
        "sz --ymodem -k crnul.bin lonecr.bin iac.bin empty.bin random.bin", root / "sent");
    const Outcome run =
        RunTelvora("--headless --exit-when-done --telnet 127.0.0.1:" + std::to_string(port) +
                   " --receive-ymodem " + Quote((root / "received").string()));
    EXPECT_EQ(run.status, 0) << run.err;
    ExpectArrivedWhole(root / "received");
}

TEST_F(RealTelnet, AYModemBatchUploadArrivesWholeFromTheCommandLine) {
    WriteTheFiles();
    const int port = PeerBehindTelnetd("rz --ymodem -b -y", root / "received");
    const Outcome run = RunTelvora(
        "--headless --exit-when-done --telnet 127.0.0.1:" + std::to_string(port) + SendArguments());
    EXPECT_EQ(run.status, 0) << run.err;
    WaitForPeer();
    ExpectArrivedWhole(root / "received");
}

TEST_F(RealTelnet, AYModemBatchDownloadArrivesWholeFromTheWindow) {
    WriteTheFiles();
    const int port = PeerBehindTelnetd(
        "sz --ymodem -k crnul.bin lonecr.bin iac.bin empty.bin random.bin", root / "sent");
    Tmain& window = ConnectedWindow(port);
    RunToItsEnd(*window.Transfers().Protocol(),
                [&] { return window.Transfers().ReceiveBatch((root / "received").string()); });
    ExpectArrivedWhole(root / "received");
}

TEST_F(RealTelnet, AYModemBatchUploadArrivesWholeFromTheWindow) {
    WriteTheFiles();
    const int port = PeerBehindTelnetd("rz --ymodem -b -y", root / "received");
    Tmain& window = ConnectedWindow(port);
    std::vector<std::string> paths;
    for (const auto& [name, content] : files) {
        paths.push_back((root / "sent" / name).string());
    }
    RunToItsEnd(*window.Transfers().Upload(),
                [&] { return window.Transfers().SendFiles(TSendProtocol::YModem, paths); });
    WaitForPeer();
    ExpectArrivedWhole(root / "received");
}

// Y-Modem-G: sz streams every block without waiting once asked with 'G'; the
// same files arrive whole through a real telnetd and over raw TCP.
TEST_F(RealTelnet, AYModemGBatchStreamsWholeThroughTelnetdAndOverRawTcp) {
    WriteTheFiles();
    const std::string sz = "sz --ymodem -k crnul.bin lonecr.bin iac.bin empty.bin random.bin";
    for (const bool raw : {false, true}) {
        SCOPED_TRACE(raw ? "raw TCP" : "telnetd");
        const fs::path folder = root / (raw ? "raw" : "telnet");
        fs::create_directories(folder);
        // A board goes back to its menu after sz; the line stays up a moment.
        const std::string board = sz + "; sleep 1";
        const int port = raw ? PeerOverTcp(board, root / "sent")
                             : PeerBehindTelnetd("sh -c '" + board + "'", root / "sent");
        const Outcome run = RunTelvora(
            std::string("--headless --exit-when-done ") + (raw ? "--raw" : "--telnet") +
            " 127.0.0.1:" + std::to_string(port) + " --receive-ymodem-g " + Quote(folder.string()));
        EXPECT_EQ(run.status, 0) << run.err;
        ExpectArrivedWhole(folder);
        StopPeer();
    }
}

TEST_F(RealTelnet, RawTcpCarriesABatchBothWaysAsItIs) {
    WriteTheFiles();
    int port = PeerOverTcp("sz --ymodem -k crnul.bin lonecr.bin iac.bin empty.bin random.bin",
                           root / "sent");
    Outcome run = RunTelvora("--headless --exit-when-done --raw 127.0.0.1:" + std::to_string(port) +
                             " --receive-ymodem " + Quote((root / "received").string()));
    EXPECT_EQ(run.status, 0) << run.err;
    ExpectArrivedWhole(root / "received");
    StopPeer();

    fs::create_directories(root / "uploaded");
    port = PeerOverTcp("rz --ymodem -b -y", root / "uploaded");
    run = RunTelvora("--headless --exit-when-done --raw 127.0.0.1:" + std::to_string(port) +
                     SendArguments());
    EXPECT_EQ(run.status, 0) << run.err;
    WaitForPeer();
    ExpectArrivedWhole(root / "uploaded");
}

} // namespace
