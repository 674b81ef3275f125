// ZMODEM with lrzsz's sz and rz in their default mode. One batch (random
// binary, an empty file, and a file of every byte value with runs of what
// ZMODEM, flow control and Telnet treat specially) crosses a real Telnet
// server, raw TCP, a serial line and a line that spoils bytes, both ways,
// from the command line and from the window, and arrives identical. A line
// cut midway is resumed without the part already there; a board's own send
// starts the download by itself, or reaches the screen when auto-start is
// off; a cancel from either side ends the other; the existing-file question
// is asked once.

#include "lrzsz_test_support.h"
#include "program.h"
#include "qt_event_wait.h"
#include "run_telvora.h"
#include "tcp_relay.h"

#include "common/message_box.h"
#include "connection/telnet.h"
#include "transfer/transfer_window.h"
#include "transfer/zmodem/zmodem_sender.h"
#include "transfer/zmodem/zmodem_status.h"
#include "zmodem_peer.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace telvora;
using namespace telvora::test;
namespace fs = std::filesystem;
namespace status = zmodem_status;

namespace {

using Fault = TTcpRelay::Fault;
constexpr auto kFromServer = TTcpRelay::Direction::FromServer;
constexpr auto kFromClient = TTcpRelay::Direction::FromClient;
constexpr auto kRelayLimit = std::chrono::seconds(60);
constexpr std::size_t kRandomSize = 400 * 1024;
// Long enough that the test acts while the relay holds the line.
constexpr auto kHold = std::chrono::milliseconds(3000);

class ZmodemTransfers : public LrzszTest {
protected:
    // Every byte value; runs of ZDLE (which is CAN), DLE, XON, XOFF, their
    // high-bit twins, CR and 255; "@\r", which ZMODEM escapes for the sake of
    // packet networks; CR NUL and CR LF for Telnet; and what would start or
    // cancel a transfer if it crossed unescaped.
    static std::string AwkwardBytes() {
        std::string bytes;
        for (int i = 0; i < 256; ++i) {
            bytes.push_back(static_cast<char>(i));
        }
        for (const int value : {0x18, 0x10, 0x11, 0x13, 0x90, 0x91, 0x93, 0x98, 0x0D, 0x8D, 0xFF}) {
            for (const std::size_t run : {1, 2, 5, 8, 300}) {
                bytes.append(run, static_cast<char>(value));
                bytes.push_back('x');
            }
        }
        for (int i = 0; i < 100; ++i) {
            bytes += "@\r";
        }
        bytes += std::string("\r\0\r\n\r", 5) + "**\x18" + "B00000000000000\r\n\x11" + "rz\r" +
                 std::string(8, '\x18') + "end";
        return bytes;
    }

    void WriteTheBatch(std::size_t randomSize = kRandomSize) {
        files = {{"random.bin", RandomBytes(randomSize, 31)},
                 {"empty.bin", ""},
                 {"awkward.bin", AwkwardBytes()}};
        for (const auto& [name, content] : files) {
            Write(name, content);
        }
    }
    const std::string& Content(const std::string& name) const {
        for (const auto& [file, content] : files) {
            if (file == name) {
                return content;
            }
        }
        throw std::out_of_range(name);
    }
    std::string Sz() const {
        std::string command = "sz -q";
        for (const auto& [name, content] : files) {
            command += " " + name;
        }
        return command;
    }
    static std::string Rz() { return "rz -q -b -y"; }
    std::vector<std::string> Paths() const {
        std::vector<std::string> paths;
        for (const auto& [name, content] : files) {
            paths.push_back((root / "sent" / name).string());
        }
        return paths;
    }
    void ExpectArrivedWhole(const fs::path& folder) {
        for (const auto& [name, content] : files) {
            ASSERT_TRUE(fs::exists(folder / name)) << name;
            EXPECT_TRUE(Read(folder / name) == content) << name;
        }
    }

    Outcome Receive(const std::string& connection, const fs::path& folder,
                    const std::string& more = "") {
        return RunTelvora("--headless --exit-when-done " + connection + " --receive-zmodem " +
                          Quote(folder.string()) + more);
    }
    Outcome Send(const std::string& connection) {
        std::string arguments;
        for (const std::string& path : Paths()) {
            arguments += " --send-zmodem " + Quote(path);
        }
        return RunTelvora("--headless --exit-when-done " + connection + arguments);
    }
    // A clean line (TCP, or a pty pair, which loses nothing) needs no data
    // sent again: the last progress line says "0 errors".
    static void ExpectNoErrors(const Outcome& run) {
        const std::size_t end = run.err.rfind(status::kComplete);
        ASSERT_NE(end, std::string::npos) << run.err;
        const std::size_t line = run.err.rfind('\n', end);
        const std::string last =
            run.err.substr(line == std::string::npos ? 0 : line + 1, end - line);
        EXPECT_NE(last.find(" 0 errors "), std::string::npos) << run.err;
    }
    static std::string Raw(int port) { return "--raw 127.0.0.1:" + std::to_string(port); }

    // A script for the board's side: it greets, then begins a send.
    std::string Board() {
        const fs::path script = root / "board.sh";
        std::ofstream(script) << "#!/bin/sh\nprintf 'WELCOME TO THE BOARD\\233READY TO SEND\\233'\n"
                              << "exec " << Sz() << "\n";
        return "sh " + script.string();
    }

    // The window of a fresh program, auto-start off unless asked (so that a
    // download waits for the test's own start); what the user would be told
    // is kept, not shown.
    Tmain& Window(bool autoStart = false) {
        SetMessageSink([this](const QString& text) { messages << text; });
        program.emplace(Tmain::Sound::Off);
        program->session.SetDownloadFolder((root / "received").string());
        program->session.SetAutoZmodem(autoStart);
        return program->window;
    }
    void Connect(int port, TLineProtocol protocol) {
        EXPECT_TRUE(program->session.ConnectTelnet("127.0.0.1", std::to_string(port), protocol));
        EXPECT_TRUE(ProcessEventsUntil([&] { return program->session.LineUp(); }));
    }
    Tmain& ConnectedWindow(int port, TLineProtocol protocol) {
        Tmain& window = Window();
        Connect(port, protocol);
        return window;
    }

    // Runs a transfer window's start (which shows it modally), with `step`
    // every 20 ms while it is shown, and closes it once the transfer has
    // ended (or after a minute). The progress at its end.
    static TTransferProgress RunWindow(TTransferWindow& transfer,
                                       const std::function<bool()>& start,
                                       const std::function<void()>& step = {}) {
        QElapsedTimer elapsed;
        elapsed.start();
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            if (step) {
                step();
            }
            if (transfer.isVisible() && (!transfer.Running() || elapsed.elapsed() > 60000)) {
                transfer.done(QDialog::Accepted);
            }
        });
        ticker.start(20);
        EXPECT_TRUE(start());
        return transfer.Progress();
    }
    static void ExpectWindowSays(TTransferWindow& transfer, const std::string& text) {
        const QString wanted = QString::fromStdString(text);
        ProcessEventsUntil([&] { return transfer.lStatus->text() == wanted; }, 2000);
        EXPECT_EQ(transfer.lStatus->text().toStdString(), text);
    }

    // The exit status a peer wrote as it ended ("sz ...; echo $? > FILE"),
    // waited for up to 20 seconds.
    static std::optional<int> StatusWritten(const fs::path& file) {
        std::string text;
        ProcessEventsUntil(
            [&] {
                text = ReadAll(file);
                return !text.empty() && text.back() == '\n';
            },
            20000);
        if (text.empty()) {
            return std::nullopt;
        }
        return std::stoi(text);
    }
    // A peer started over TCP without a pty (a pty may lose what its
    // program wrote just before it ended), which writes its process id,
    // then becomes the command. socat gets longer than the relay's hold to
    // pass on what the command wrote as it ended (its cancel): by default it
    // drops what is still unsent half a second after the command ends.
    int PeerWithItsId(const std::string& command, const fs::path& folder, const fs::path& idFile) {
        const int port = LoopbackPeer::FreePort();
        StartPeer("socat -t 10 TCP-LISTEN:" + std::to_string(port) +
                      ",bind=127.0.0.1,reuseaddr SYSTEM:'echo $$ > " + idFile.string() + "; exec " +
                      command + "'",
                  folder);
        return port;
    }

    void TearDown() override {
        program.reset();
        SetMessageSink({});
        LrzszTest::TearDown();
    }

    std::vector<std::pair<std::string, std::string>> files;
    std::optional<TProgram> program;
    QStringList messages;
};

TEST_F(ZmodemTransfers, ABatchCrossesARealTelnetServerBothWaysFromTheCommandLine) {
    WriteTheBatch();
    const int port = PeerBehindTelnetd(Sz(), root / "sent");
    const Outcome download =
        Receive("--telnet 127.0.0.1:" + std::to_string(port), root / "received");
    EXPECT_EQ(download.status, 0) << download.err;
    EXPECT_NE(download.err.find(status::kComplete), std::string::npos) << download.err;
    ExpectArrivedWhole(root / "received");
    StopPeer();

    fs::create_directories(root / "uploaded");
    const int uploadPort = PeerBehindTelnetd(Rz(), root / "uploaded");
    const Outcome upload = Send("--telnet 127.0.0.1:" + std::to_string(uploadPort));
    EXPECT_EQ(upload.status, 0) << upload.err;
    WaitForPeer();
    ExpectArrivedWhole(root / "uploaded");
}

TEST_F(ZmodemTransfers, ABatchCrossesARealTelnetServerBothWaysFromTheWindow) {
    WriteTheBatch();
    const int port = PeerBehindTelnetd(Sz(), root / "sent");
    Tmain& window = ConnectedWindow(port, TLineProtocol::Telnet);
    const TTransferProgress download = RunWindow(*window.Transfers().ZmodemDownload(), [&] {
        return window.Transfers().ReceiveZmodem((root / "received").string());
    });
    EXPECT_EQ(download.status, status::kComplete);
    ExpectArrivedWhole(root / "received");
    StopPeer();

    fs::create_directories(root / "uploaded");
    const int uploadPort = PeerBehindTelnetd(Rz(), root / "uploaded");
    Tmain& again = ConnectedWindow(uploadPort, TLineProtocol::Telnet);
    const TTransferProgress upload = RunWindow(
        *again.Transfers().ZmodemUpload(), [&] { return again.Transfers().SendZmodem(Paths()); });
    EXPECT_EQ(upload.status, status::kComplete);
    WaitForPeer();
    ExpectArrivedWhole(root / "uploaded");
}

TEST_F(ZmodemTransfers, RawTcpAndASerialLineCarryTheBatchBothWays) {
    WriteTheBatch();
    const Outcome download = Receive(Raw(PeerOverTcp(Sz(), root / "sent")), root / "received");
    EXPECT_EQ(download.status, 0) << download.err;
    ExpectNoErrors(download);
    ExpectArrivedWhole(root / "received");
    StopPeer();

    fs::create_directories(root / "uploaded");
    const Outcome upload = Send(Raw(PeerOverTcp(Rz(), root / "uploaded")));
    EXPECT_EQ(upload.status, 0) << upload.err;
    ExpectNoErrors(upload);
    WaitForPeer();
    ExpectArrivedWhole(root / "uploaded");
    StopPeer();

    fs::create_directories(root / "serial-received");
    const std::string line = PeerOverSerial(Sz(), root / "sent");
    // With XON/XOFF flow control, which ZMODEM's escapes leave room for.
    const Outcome serialDownload =
        Receive("--serial " + Quote(line) + " --flow xonxoff", root / "serial-received");
    EXPECT_EQ(serialDownload.status, 0) << serialDownload.err;
    ExpectNoErrors(serialDownload);
    ExpectArrivedWhole(root / "serial-received");
    StopPeer();

    // rz asks once it has slept a moment: by then the line is open here.
    fs::create_directories(root / "serial-uploaded");
    const std::string uploadLine =
        PeerOverSerial(Rz() + " --delay-startup 1", root / "serial-uploaded");
    const Outcome serialUpload = Send("--serial " + Quote(uploadLine));
    EXPECT_EQ(serialUpload.status, 0) << serialUpload.err;
    ExpectNoErrors(serialUpload);
    WaitForPeer();
    ExpectArrivedWhole(root / "serial-uploaded");
}

// A flipped byte (a bad CRC), a lost one, a repeated one, a stall and
// another flip, along what one side sends.
std::vector<TTcpRelay::TFault> Spoiling(TTcpRelay::Direction direction) {
    return {{direction, 30000, Fault::Flip},
            {direction, 110000, Fault::Drop},
            {direction, 190000, Fault::Repeat},
            {direction, 270000, Fault::Stall, std::chrono::milliseconds(2600)},
            {direction, 350000, Fault::Flip}};
}

TEST_F(ZmodemTransfers, ALineThatSpoilsBytesAndStallsStillCarriesTheBatchBothWays) {
    WriteTheBatch();
    {
        TTcpRelay relay(PeerOverTcp(Sz(), root / "sent"), kRelayLimit, Spoiling(kFromServer));
        const Outcome download = Receive(Raw(relay.Port()), root / "received");
        EXPECT_EQ(relay.FaultsDone(), 5);
        EXPECT_EQ(download.status, 0) << download.err;
        ExpectArrivedWhole(root / "received");
    }
    StopPeer();

    fs::create_directories(root / "uploaded");
    TTcpRelay relay(PeerOverTcp(Rz(), root / "uploaded"), kRelayLimit, Spoiling(kFromClient));
    const Outcome upload = Send(Raw(relay.Port()));
    EXPECT_EQ(relay.FaultsDone(), 5);
    EXPECT_EQ(upload.status, 0) << upload.err;
    WaitForPeer();
    ExpectArrivedWhole(root / "uploaded");
}

TEST_F(ZmodemTransfers, ADownloadCutMidwayIsResumedWithoutWhatAlreadyCame) {
    WriteTheBatch(1024 * 1024);
    const std::string& random = Content("random.bin");
    {
        TTcpRelay relay(PeerOverTcp(Sz(), root / "sent"), kRelayLimit,
                        {{kFromServer, 400000, Fault::Cut}});
        const Outcome cut = Receive(Raw(relay.Port()), root / "received");
        EXPECT_EQ(relay.FaultsDone(), 1);
        EXPECT_EQ(cut.status, 1) << cut.err;
    }
    StopPeer();
    const std::string partial = Read(root / "received" / "random.bin");
    ASSERT_GT(partial.size(), 200000u);
    ASSERT_LT(partial.size(), random.size());
    EXPECT_TRUE(random.compare(0, partial.size(), partial) == 0) << "kept bytes differ";

    TTcpRelay relay(PeerOverTcp(Sz(), root / "sent"), kRelayLimit);
    const Outcome resumed = Receive(Raw(relay.Port()), root / "received", " --resume");
    EXPECT_EQ(resumed.status, 0) << resumed.err;
    ExpectArrivedWhole(root / "received");
    EXPECT_FALSE(fs::exists(root / "received" / "random.1.bin"));
    std::size_t crossed = 0;
    for (const TTcpRelay::TRun& run : relay.Runs()) {
        crossed += run.direction == kFromServer ? run.bytes.size() : 0;
    }
    // The rest of the file, escaped (random bytes need it about one time in
    // thirty), and the small files with their headers.
    const std::size_t rest = random.size() - partial.size();
    EXPECT_LT(crossed, rest + rest / 10 + 2 * Content("awkward.bin").size() + 4096)
        << "the part already there came again";
}

TEST_F(ZmodemTransfers, ABoardsOwnSendStartsTheDownloadAndLeavesNoHeaderOnTheScreen) {
    WriteTheBatch();
    const int port = PeerOverTcp(Board(), root / "sent");
    const Outcome run = RunTelvora("--headless --exit-when-done --dump-text " + Raw(port) +
                                   " --download-folder " + Quote((root / "received").string()));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find(status::kComplete), std::string::npos) << run.err;
    ExpectArrivedWhole(root / "received");

    std::vector<std::string> lines;
    std::istringstream text(run.out);
    for (std::string line; std::getline(text, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 24u) << run.out;
    EXPECT_EQ(lines[0], "WELCOME TO THE BOARD");
    EXPECT_EQ(lines[1], "READY TO SEND");
    // sz's "rz\r" comes before the header and shows as it would on an
    // Atari: the two letters and the CR's glyph. Nothing of the header does.
    EXPECT_EQ(lines[2].substr(0, 2), "rz") << run.out;
    EXPECT_LE(lines[2].size(), 2u + 3u) << run.out;
    for (std::size_t row = 3; row < lines.size(); ++row) {
        EXPECT_EQ(lines[row], "") << "row " << row + 1 << "\n" << run.out;
    }
}

TEST_F(ZmodemTransfers, WithAutoStartOffABoardsSendOpensNothingAndReachesTheScreen) {
    WriteTheBatch();
    const int port = PeerOverTcp(Board(), root / "sent");
    Tmain& window = Window(true);
    QAction* autoStart = window.Entry("ZmodemAutoStart1");
    ASSERT_TRUE(autoStart->isChecked());
    autoStart->trigger();
    EXPECT_FALSE(program->session.AutoZmodem());
    Connect(port, TLineProtocol::Raw);
    const SharedScreen& screen = program->session.Screen();
    EXPECT_TRUE(ProcessEventsUntil(
        [&] { return screen.ScreenText().find("B00") != std::string::npos; }, 5000))
        << screen.ScreenText();
    ProcessEventsFor(1500);
    EXPECT_NE(screen.ScreenText().find("WELCOME TO THE BOARD"), std::string::npos);
    for (TTransferWindow* transfer : window.Transfers().TransferWindows()) {
        EXPECT_FALSE(transfer->isVisible());
        EXPECT_FALSE(transfer->Running());
    }
    EXPECT_TRUE(fs::is_empty(root / "received"));
}

// The program started from the command line in the background, its
// messages into err; its process id.
pid_t StartTelvora(const std::string& arguments, const fs::path& err) {
    const std::string command =
        "exec " + std::string(TELVORA_BINARY) + " " + arguments + " 2>" + Quote(err.string());
    const pid_t program = fork();
    if (program == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return program;
}

// How the program ended (a wait status), within ten seconds.
int EndOf(pid_t program) {
    int status = -1;
    ProcessEventsUntil([&] { return waitpid(program, &status, WNOHANG) == program; }, 10000);
    return status;
}

// SIGTERM in the middle of a download from the command line: the board's
// sz gets the cancel and stops at once instead of waiting for its own
// timeout, and the program says so and ends as the signal says.
TEST_F(ZmodemTransfers, ASignalCancelsTheDownloadBeforeTheProgramEnds) {
    Write("big.bin", RandomBytes(2 * 1024 * 1024, 47));
    const fs::path szStatus = root / "sz.status";
    TTcpRelay relay(
        PeerOverTcp("sz -q -w 32768 big.bin; echo $? > " + szStatus.string(), root / "sent"),
        kRelayLimit, {{kFromServer, 300000, Fault::Stall, kHold}});
    const fs::path err = root / "telvora.err";
    const pid_t program =
        StartTelvora("--headless --exit-when-done --raw 127.0.0.1:" + std::to_string(relay.Port()) +
                         " --receive-zmodem " + Quote((root / "received").string()),
                     err);
    ASSERT_GT(program, 0);
    ASSERT_TRUE(ProcessEventsUntil([&] { return relay.FaultsDone() > 0; }, 20000));
    kill(program, SIGTERM);
    const int ended = EndOf(program);
    EXPECT_TRUE(WIFSIGNALED(ended) && WTERMSIG(ended) == SIGTERM) << ReadAll(err);
    EXPECT_NE(ReadAll(err).find("cancelling the transfer"), std::string::npos) << ReadAll(err);
    const std::optional<int> szExit = StatusWritten(szStatus);
    ASSERT_TRUE(szExit.has_value()) << "sz still runs";
    EXPECT_NE(*szExit, 0);
}

// The download folder removed while sz's file comes in: the file is not
// where the user will look for it, so the run is no success.
TEST_F(ZmodemTransfers, AFolderRemovedDuringADownloadIsAFileLostNotAComplete) {
    Write("big.bin", RandomBytes(2 * 1024 * 1024, 53));
    TTcpRelay relay(PeerOverTcp("sz -q -w 32768 big.bin", root / "sent"), kRelayLimit,
                    {{kFromServer, 300000, Fault::Stall, kHold}});
    const fs::path folder = root / "going";
    fs::create_directories(folder);
    const fs::path err = root / "telvora.err";
    const pid_t program =
        StartTelvora("--headless --exit-when-done --raw 127.0.0.1:" + std::to_string(relay.Port()) +
                         " --receive-zmodem " + Quote(folder.string()),
                     err);
    ASSERT_GT(program, 0);
    ASSERT_TRUE(ProcessEventsUntil([&] { return relay.FaultsDone() > 0; }, 20000));
    fs::remove_all(folder);
    const int ended = EndOf(program);
    EXPECT_TRUE(WIFEXITED(ended) && WEXITSTATUS(ended) == 1) << ReadAll(err);
    EXPECT_NE(ReadAll(err).find("File lost: "), std::string::npos) << ReadAll(err);
}

// A board's send into a download folder not made yet: it is made and the
// file arrives. Into one where no file can be made (the kernel's /proc): our
// cancel stops sz at once, nothing of the transfer reaches the screen, and
// the headless run fails at once instead of waiting for sz or ending well.
TEST_F(ZmodemTransfers, ABoardsSendMakesItsFolderOrIsCancelledAtOnceWhenItCannotBeWritten) {
    Write("big.bin", RandomBytes(300000, 57));
    const fs::path szStatus = root / "sz.status";
    const fs::path script = root / "board.sh";
    std::ofstream(script) << "#!/bin/sh\nprintf 'READY\\233'\nsz -q big.bin; echo $? > "
                          << szStatus.string() << "\n";
    const auto board = [&](const std::string& folder, const std::string& exit) {
        const int port = PeerOverTcp("sh " + script.string(), root / "sent");
        return RunTelvora("--headless --dump-text " + exit + " " + Raw(port) +
                          " --download-folder " + Quote(folder));
    };
    const Outcome fresh = board((root / "home" / "Downloads").string(), "--exit-when-done");
    EXPECT_EQ(fresh.status, 0) << fresh.err;
    EXPECT_NE(fresh.err.find("300000 of 300000 bytes (100%)"), std::string::npos) << fresh.err;
    EXPECT_TRUE(Read(root / "home" / "Downloads" / "big.bin") == Read(root / "sent" / "big.bin"));
    StopPeer();

    fs::remove(szStatus);
    // Still connected when sz has ended: it was our cancel that stopped it.
    const Outcome refused = board("/proc/self", "--exit-after 3");
    EXPECT_EQ(refused.status, 1) << refused.err;
    EXPECT_NE(refused.err.find("Cannot create /proc/self/big.bin"), std::string::npos)
        << refused.err;
    const std::string szExit = ReadAll(szStatus);
    ASSERT_FALSE(szExit.empty()) << "sz still runs";
    EXPECT_NE(std::stoi(szExit), 0);
    std::istringstream text(refused.out);
    std::string line;
    for (int row = 1; std::getline(text, line); ++row) {
        // sz's "rz" and its CR's glyph come before its first header.
        EXPECT_EQ(row == 2 ? line.substr(0, 2) : line, row == 1 ? "READY" : row == 2 ? "rz" : "");
        EXPECT_LE(line.size(), 5u) << refused.out;
    }
}

// What a hostile board's sender says of its files: the length each
// announces, whatever it then sends.
class LyingSource : public TZmodemSource {
public:
    struct TFile {
        std::string content;
        std::uint64_t announced = 0;
    };
    std::map<std::string, TFile> files;

    TInfo Open(const std::string& path) override {
        m_open = &files.at(path);
        return {m_open->announced, 0};
    }
    std::size_t ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t count) override {
        const std::string& content = m_open->content;
        if (offset >= content.size()) {
            return 0;
        }
        const std::size_t part = std::min<std::size_t>(count, content.size() - offset);
        std::memcpy(data, content.data() + offset, part);
        return part;
    }
    void Close() override {}

private:
    const TFile* m_open = nullptr;
};

// A sender of the tests' own, scripted to lie, through a real line into the
// whole program: a file shorter than its header says is kept and the run is
// no success, a name at the length limit sent twice arrives twice, and
// bidirectional controls do not reach a file name. (Our sender ends a file
// at the length it announced, so a longer one is the core tests' to try.)
TEST_F(ZmodemTransfers, AHostileSendersLiesAreKeptAndToldAndItsNamesMadeSafe) {
    const std::string longName = std::string(251, 'n') + ".bin"; // 255 bytes
    LyingSource source;
    source.files = {{"/a/short.bin", {std::string(10, 's'), 1000000}},
                    {"/a/" + longName, {"first", 5}},
                    {"/b/" + longName, {"again", 5}},
                    {"/a/report\u202Etxt.exe", {"mirror", 6}}};
    std::vector<std::string> paths;
    for (const auto& [path, file] : source.files) {
        paths.push_back(path);
    }
    // socat carries the sender's line (its standard input and output) to the
    // program's raw TCP connection.
    const int port = LoopbackPeer::FreePort();
    ZmodemChild bridge(
        {"socat", "STDIO", "TCP-LISTEN:" + std::to_string(port) + ",bind=127.0.0.1,reuseaddr"},
        root);
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // socat begins to listen
    const fs::path folder = root / "received";
    const fs::path err = root / "telvora.err";
    const pid_t program =
        StartTelvora("--headless --exit-when-done --raw 127.0.0.1:" + std::to_string(port) +
                         " --receive-zmodem " + Quote(folder.string()),
                     err);
    ASSERT_GT(program, 0);
    LinePort line;
    TZmodemSender sender(line, source);
    sender.Start(paths);
    EXPECT_TRUE(Drive(sender, line, bridge));
    const int ended = EndOf(program);
    const std::string told = ReadAll(err);
    EXPECT_TRUE(WIFEXITED(ended) && WEXITSTATUS(ended) == 1) << told;
    EXPECT_NE(told.find("short.bin: 10 of 1000000 bytes, shorter than announced"),
              std::string::npos)
        << told;
    EXPECT_EQ(Read(folder / "short.bin"), std::string(10, 's'));
    EXPECT_EQ(Read(folder / longName), "first");
    int arrived = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        EXPECT_LE(name.size(), 255u) << name;
        EXPECT_EQ(name.find("\u202E"), std::string::npos) << "a bidirectional control kept";
        ++arrived;
    }
    EXPECT_EQ(arrived, 4);
}

TEST_F(ZmodemTransfers, OurCancelEndsTheOtherSideEitherWay) {
    const std::string big = RandomBytes(2 * 1024 * 1024, 41);
    Write("big.bin", big);
    // sz waits for our acknowledgement every 32 KB, so it is not far ahead
    // of the line when the relay holds it.
    const fs::path szStatus = root / "sz.status";
    TTcpRelay download(
        PeerOverTcp("sz -q -w 32768 big.bin; echo $? > " + szStatus.string(), root / "sent"),
        kRelayLimit, {{kFromServer, 300000, Fault::Stall, kHold}});
    Tmain& window = ConnectedWindow(download.Port(), TLineProtocol::Raw);
    TTransferWindow& downloadWindow = *window.Transfers().ZmodemDownload();
    bool cancelled = false;
    const TTransferProgress received = RunWindow(
        downloadWindow,
        [&] { return window.Transfers().ReceiveZmodem((root / "received").string()); },
        [&] {
            if (!cancelled && download.FaultsDone() > 0) {
                downloadWindow.BitBtn1->click();
                cancelled = true;
            }
        });
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(received.status, status::kCancelled);
    ExpectWindowSays(downloadWindow, status::kCancelled);
    const std::optional<int> szExit = StatusWritten(szStatus);
    ASSERT_TRUE(szExit.has_value()) << "sz still runs";
    EXPECT_NE(*szExit, 0);
    StopPeer();

    fs::create_directories(root / "uploaded");
    const fs::path rzStatus = root / "rz.status";
    TTcpRelay upload(PeerOverTcp(Rz() + "; echo $? > " + rzStatus.string(), root / "uploaded"),
                     kRelayLimit, {{kFromClient, 300000, Fault::Stall, kHold}});
    Tmain& again = ConnectedWindow(upload.Port(), TLineProtocol::Raw);
    TTransferWindow& uploadWindow = *again.Transfers().ZmodemUpload();
    cancelled = false;
    const TTransferProgress sent = RunWindow(
        uploadWindow,
        [&] { return again.Transfers().SendZmodem({(root / "sent" / "big.bin").string()}); },
        [&] {
            if (!cancelled && upload.FaultsDone() > 0) {
                uploadWindow.BitBtn1->click();
                cancelled = true;
            }
        });
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(sent.status, status::kCancelled);
    ExpectWindowSays(uploadWindow, status::kCancelled);
    const std::optional<int> rzExit = StatusWritten(rzStatus);
    ASSERT_TRUE(rzExit.has_value()) << "rz still runs";
    EXPECT_NE(*rzExit, 0);
}

// A download the user cancels while the existing-file question is open:
// sz's own cancel is kept off the screen, and the board's text after it
// shows there at once.
TEST_F(ZmodemTransfers, WhatFollowsACancelStaysOffTheScreenUntilTheBoardsText) {
    Write("big.bin", RandomBytes(100000, 59));
    std::ofstream(root / "received" / "big.bin") << "already here";
    const fs::path script = root / "board.sh";
    std::ofstream(script) << "#!/bin/sh\nsz -q big.bin\nprintf '\\233BACK AT THE BOARD'\n";
    Tmain& window = Window(true);
    // Without a pty, which may lose what sz writes as it ends (its cancel).
    const int port = LoopbackPeer::FreePort();
    StartPeer("socat -t 10 TCP-LISTEN:" + std::to_string(port) +
                  ",bind=127.0.0.1,reuseaddr SYSTEM:'sh " + script.string() + "'",
              root / "sent");
    Connect(port, TLineProtocol::Raw);
    TTransferWindow& download = *window.Transfers().ZmodemDownload();
    // The question runs a loop of its own: the cancel comes from a timer.
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (download.Question() != nullptr) {
            download.BitBtn1->click();
        }
    });
    ticker.start(20);
    const SharedScreen& screen = program->session.Screen();
    EXPECT_TRUE(ProcessEventsUntil(
        [&] { return screen.ScreenText().find("BACK AT THE BOARD") != std::string::npos; }, 20000));
    std::istringstream text(screen.ScreenText());
    std::vector<std::string> rows;
    for (std::string row; std::getline(text, row);) {
        if (!row.empty()) {
            rows.push_back(row);
        }
    }
    ASSERT_EQ(rows.size(), 2u) << screen.ScreenText();
    // sz's "rz" and its CR's glyph, nothing after them.
    EXPECT_EQ(rows[0].substr(0, 2), "rz");
    EXPECT_LE(rows[0].size(), 5u) << screen.ScreenText();
    EXPECT_EQ(rows[1], "BACK AT THE BOARD");
}

// Whether the server's cancel (five CANs in a row, which escaped data never
// holds) has passed the relay towards us.
bool CancelCameThrough(TTcpRelay& relay) {
    int run = 0;
    for (const TTcpRelay::TRun& passed : relay.RunsSoFar()) {
        if (passed.direction != kFromServer) {
            continue;
        }
        for (const std::uint8_t byte : passed.bytes) {
            run = byte == 0x18 ? run + 1 : 0;
            if (run >= 5) {
                return true;
            }
        }
    }
    return false;
}

// What the window must say when the peer was stopped: its cancel if that
// came (lrzsz sends it as it ends); a lost line if the peer died before its
// cancel left it, which happens now and then on a loaded machine.
std::string EndingForAStoppedPeer(TTcpRelay& relay) {
    return CancelCameThrough(relay) ? status::kCancelledByPeer : status::kConnectionLost;
}

TEST_F(ZmodemTransfers, TheOtherSidesCancelEndsOurWindowEitherWay) {
    const std::string big = RandomBytes(2 * 1024 * 1024, 42);
    Write("big.bin", big);
    // Stopped, sz and rz send their cancel sequence as they end.
    const auto stopWhenHeld = [](TTcpRelay& relay, const fs::path& idFile, bool& stopped) {
        return [&relay, idFile, &stopped] {
            const std::string id = ReadAll(idFile);
            if (!stopped && relay.FaultsDone() > 0 && !id.empty()) {
                ::kill(std::stoi(id), SIGTERM);
                stopped = true;
            }
        };
    };
    const fs::path szId = root / "sz.id";
    TTcpRelay download(PeerWithItsId("sz -q -w 32768 big.bin", root / "sent", szId), kRelayLimit,
                       {{kFromServer, 300000, Fault::Stall, kHold}});
    Tmain& window = ConnectedWindow(download.Port(), TLineProtocol::Raw);
    TTransferWindow& downloadWindow = *window.Transfers().ZmodemDownload();
    bool stopped = false;
    const TTransferProgress received = RunWindow(
        downloadWindow,
        [&] { return window.Transfers().ReceiveZmodem((root / "received").string()); },
        stopWhenHeld(download, szId, stopped));
    EXPECT_TRUE(stopped);
    const std::string downloadEnding = EndingForAStoppedPeer(download);
    EXPECT_EQ(received.status, downloadEnding);
    ExpectWindowSays(downloadWindow, downloadEnding);
    const std::string kept = Read(root / "received" / "big.bin");
    EXPECT_LT(kept.size(), big.size());
    EXPECT_TRUE(big.compare(0, kept.size(), kept) == 0) << "what came differs";
    StopPeer();

    fs::create_directories(root / "uploaded");
    const fs::path rzId = root / "rz.id";
    TTcpRelay upload(PeerWithItsId(Rz(), root / "uploaded", rzId), kRelayLimit,
                     {{kFromClient, 300000, Fault::Stall, kHold}});
    Tmain& again = ConnectedWindow(upload.Port(), TLineProtocol::Raw);
    TTransferWindow& uploadWindow = *again.Transfers().ZmodemUpload();
    stopped = false;
    const TTransferProgress sent = RunWindow(
        uploadWindow,
        [&] { return again.Transfers().SendZmodem({(root / "sent" / "big.bin").string()}); },
        stopWhenHeld(upload, rzId, stopped));
    EXPECT_TRUE(stopped);
    const std::string uploadEnding = EndingForAStoppedPeer(upload);
    EXPECT_EQ(sent.status, uploadEnding);
    ExpectWindowSays(uploadWindow, uploadEnding);
    // The other side's cancel itself is recognised in at least one of the two.
    EXPECT_TRUE(downloadEnding == status::kCancelledByPeer ||
                uploadEnding == status::kCancelledByPeer);
}

TEST_F(ZmodemTransfers, ANameReachingOutOfTheFolderLandsInsideIt) {
    fs::create_directories(root / "sent" / "inner");
    Write("outside.bin", "from the folder above\n");
    // sz sends the name as it was given.
    const int port = PeerOverTcp("sz -q ../outside.bin", root / "sent" / "inner");
    Tmain& window = ConnectedWindow(port, TLineProtocol::Raw);
    const TTransferProgress download = RunWindow(*window.Transfers().ZmodemDownload(), [&] {
        return window.Transfers().ReceiveZmodem((root / "received").string());
    });
    EXPECT_EQ(download.status, status::kComplete);
    EXPECT_EQ(Read(root / "received" / "outside.bin"), "from the folder above\n");
    EXPECT_FALSE(fs::exists(root / "outside.bin"));
}

TEST_F(ZmodemTransfers, TheExistingFileQuestionIsAskedOnceAndResumeKeepsWhatIsThere) {
    WriteTheBatch();
    // What is there differs from what was sent: a resumed file keeps it, a
    // file received again from its start would not.
    const std::string mineRandom = RandomBytes(100000, 43);
    const std::string mineAwkward(500, 'm');
    std::ofstream(root / "received" / "random.bin", std::ios::binary) << mineRandom;
    std::ofstream(root / "received" / "awkward.bin", std::ios::binary) << mineAwkward;
    const int port = PeerOverTcp(Sz(), root / "sent");
    Tmain& window = ConnectedWindow(port, TLineProtocol::Raw);
    TTransferWindow& download = *window.Transfers().ZmodemDownload();
    int asked = 0;
    bool shown = false;
    QString question;
    const TTransferProgress end = RunWindow(
        download, [&] { return window.Transfers().ReceiveZmodem((root / "received").string()); },
        [&] {
            QMessageBox* box = download.Question();
            if (box != nullptr && !shown) {
                ++asked;
                question = box->text();
                EXPECT_EQ(box->objectName(), "ExistingFileQuestion");
                auto* resume = box->findChild<QPushButton*>(QStringLiteral("Resume"));
                ASSERT_NE(resume, nullptr);
                resume->click();
            }
            shown = box != nullptr;
        });
    EXPECT_EQ(end.status, status::kComplete);
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(question.contains(QStringLiteral("random.bin"))) << question.toStdString();
    EXPECT_TRUE(Read(root / "received" / "random.bin") ==
                mineRandom + Content("random.bin").substr(mineRandom.size()));
    EXPECT_TRUE(Read(root / "received" / "awkward.bin") ==
                mineAwkward + Content("awkward.bin").substr(mineAwkward.size()));
    EXPECT_TRUE(fs::exists(root / "received" / "empty.bin"));
    EXPECT_FALSE(fs::exists(root / "received" / "random.1.bin"));
}

} // namespace
