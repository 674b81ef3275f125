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
#include "transfer/protocol.h"
#include "transfer/upload.h"

#include <QStringList>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
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

    std::map<std::string, std::string> files;
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
    // What the user would be told (the server hangs up at the end) is kept, not shown.
    QStringList messages;
    SetMessageSink([&](const QString& text) { messages << text; });
    TProgram program(Tmain::Sound::Off);
    Tmain& window = program.window;
    ASSERT_TRUE(program.session.ConnectTelnet("127.0.0.1", std::to_string(port)));
    ASSERT_TRUE(ProcessEventsUntil([&] { return program.session.LineUp(); }));
    // The window is modal: it is closed once the transfer has ended.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (!window.Protocol()->Running() && window.Protocol()->isVisible()) {
            window.Protocol()->done(QDialog::Accepted);
        }
    });
    closer.start(100);
    QTimer::singleShot(60000, window.Protocol(),
                       [&] { window.Protocol()->done(QDialog::Rejected); });
    ASSERT_TRUE(window.ReceiveBatch((root / "received").string()));
    EXPECT_EQ(window.Protocol()->Progress().status, "Transfer Complete!");
    ExpectArrivedWhole(root / "received");
    window.ShutDown();
    SetMessageSink({});
}

TEST_F(RealTelnet, AYModemBatchUploadArrivesWholeFromTheWindow) {
    WriteTheFiles();
    const int port = PeerBehindTelnetd("rz --ymodem -b -y", root / "received");
    QStringList messages;
    SetMessageSink([&](const QString& text) { messages << text; });
    TProgram program(Tmain::Sound::Off);
    Tmain& window = program.window;
    ASSERT_TRUE(program.session.ConnectTelnet("127.0.0.1", std::to_string(port)));
    ASSERT_TRUE(ProcessEventsUntil([&] { return program.session.LineUp(); }));
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (!window.Upload()->Running() && window.Upload()->isVisible()) {
            window.Upload()->done(QDialog::Accepted);
        }
    });
    closer.start(100);
    QTimer::singleShot(60000, window.Upload(), [&] { window.Upload()->done(QDialog::Rejected); });
    std::vector<std::string> paths;
    for (const auto& [name, content] : files) {
        paths.push_back((root / "sent" / name).string());
    }
    ASSERT_TRUE(window.SendFiles(TSendProtocol::YModem, paths));
    EXPECT_EQ(window.Upload()->Progress().status, "Transfer Complete!");
    WaitForPeer();
    ExpectArrivedWhole(root / "received");
    window.ShutDown();
    SetMessageSink({});
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
