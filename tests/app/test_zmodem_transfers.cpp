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

// A flipped byte (a bad CRC), a lost one, a repeated one, a stall and
// another flip, along what one side sends.
std::vector<TTcpRelay::TFault> Spoiling(TTcpRelay::Direction direction) {
    return {{direction, 30000, Fault::Flip},
            {direction, 110000, Fault::Drop},
            {direction, 190000, Fault::Repeat},
            {direction, 270000, Fault::Stall, std::chrono::milliseconds(2600)},
            {direction, 350000, Fault::Flip}};
}

// The line the program reaches its peer over.
enum class Line { Telnet, RawTcp, Serial, Spoiling };

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
    // sz waits for our acknowledgement every 32 KB, so it is not far ahead of
    // the line when the relay holds it.
    static std::string PeerOfTheBigFile(bool upload) {
        return upload ? Rz() : "sz -q -w 32768 big.bin";
    }
    fs::path PeerFolder(bool upload) const {
        const fs::path folder = root / (upload ? "uploaded" : "sent");
        fs::create_directories(folder);
        return folder;
    }
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

    // Starts the peer's command in the folder behind the line; the program's
    // arguments for reaching it.
    std::string Connection(Line line, const std::string& command, const fs::path& folder,
                           bool upload) {
        switch (line) {
        case Line::Telnet:
            return "--telnet 127.0.0.1:" + std::to_string(PeerBehindTelnetd(command, folder));
        case Line::RawTcp:
            return Raw(PeerOverTcp(command, folder));
        case Line::Serial:
            // rz asks once it has slept a moment: by then the line is open
            // here. A download uses XON/XOFF flow control, which ZMODEM's
            // escapes leave room for.
            return upload
                       ? "--serial " + Quote(PeerOverSerial(command + " --delay-startup 1", folder))
                       : "--serial " + Quote(PeerOverSerial(command, folder)) + " --flow xonxoff";
        case Line::Spoiling:
            relay.emplace(PeerOverTcp(command, folder), kRelayLimit,
                          Spoiling(upload ? kFromClient : kFromServer));
            return Raw(relay->Port());
        }
        return {};
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
    // A run that ended well; on a clean line (TCP, or a pty pair, which loses
    // nothing) with no data sent again: the last progress line says "0 errors".
    static void ExpectComplete(const Outcome& run, bool clean) {
        EXPECT_EQ(run.status, 0) << run.err;
        const std::size_t end = run.err.rfind(status::kComplete);
        ASSERT_NE(end, std::string::npos) << run.err;
        const std::size_t line = run.err.rfind('\n', end);
        const std::string last =
            run.err.substr(line == std::string::npos ? 0 : line + 1, end - line);
        if (clean) {
            EXPECT_NE(last.find(" 0 errors "), std::string::npos) << run.err;
        }
    }
    static std::string Raw(int port) { return "--raw 127.0.0.1:" + std::to_string(port); }

    // The board's side, a shell script; the command that runs it.
    std::string Board(const std::string& lines) {
        const fs::path script = root / "board.sh";
        std::ofstream(script) << "#!/bin/sh\n" << lines << "\n";
        return "sh " + script.string();
    }
    // A board that greets, then begins a send.
    std::string Board() {
        return Board("printf 'WELCOME TO THE BOARD\\233READY TO SEND\\233'\nexec " + Sz());
    }
    // `text`'s rows are `rows`, then blank ones; their count. A row "rz"
    // stands for sz's "rz\r" before its first header, which shows as it
    // would on an Atari: the two letters and the CR's glyph, nothing of the
    // header.
    static std::size_t ExpectRows(const std::string& text, const std::vector<std::string>& rows) {
        std::istringstream lines(text);
        std::size_t row = 0;
        for (std::string line; std::getline(lines, line); ++row) {
            const std::string wanted = row < rows.size() ? rows[row] : "";
            if (wanted == "rz") {
                EXPECT_EQ(line.substr(0, 2), "rz") << text;
                EXPECT_LE(line.size(), 5u) << text;
            } else {
                EXPECT_EQ(line, wanted) << "row " << row + 1 << "\n" << text;
            }
        }
        EXPECT_GE(row, rows.size()) << text;
        return row;
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
    TTransferWindow& TransferWindow(bool upload) {
        return upload ? *program->window.Transfers().ZmodemUpload()
                      : *program->window.Transfers().ZmodemDownload();
    }
    // A download into "received", or an upload of `paths`, from the window.
    TTransferProgress FromTheWindow(bool upload, const std::vector<std::string>& paths = {},
                                    const std::function<void()>& step = {}) {
        TTransferCommands& hub = program->window.Transfers();
        return RunWindow(
            TransferWindow(upload),
            [&] {
                return upload ? hub.SendZmodem(paths)
                              : hub.ReceiveZmodem((root / "received").string());
            },
            step);
    }
    static void ExpectWindowSays(TTransferWindow& transfer, const std::string& text) {
        const QString wanted = QString::fromStdString(text);
        ProcessEventsUntil([&] { return transfer.lStatus->text() == wanted; }, 2000);
        EXPECT_EQ(transfer.lStatus->text().toStdString(), text);
    }
    // big.bin crossing from the window through a relay that holds the line
    // once 300000 bytes have passed; `act` is tried while it is held until
    // it has acted. The window's last status, which it also says.
    std::string HeldInTheWindow(int peerPort, bool upload,
                                const std::function<bool(TTransferWindow&)>& act) {
        relay.emplace(peerPort, kRelayLimit,
                      std::vector<TTcpRelay::TFault>{
                          {upload ? kFromClient : kFromServer, 300000, Fault::Stall, kHold}});
        ConnectedWindow(relay->Port(), TLineProtocol::Raw);
        TTransferWindow& transfer = TransferWindow(upload);
        bool acted = false;
        const TTransferProgress end =
            FromTheWindow(upload, {(root / "sent" / "big.bin").string()}, [&] {
                if (!acted && relay->FaultsDone() > 0) {
                    acted = act(transfer);
                }
            });
        EXPECT_TRUE(acted);
        ExpectWindowSays(transfer, end.status);
        return end.status;
    }

    // The exit status a peer wrote as it ended ("sz ...; echo $? > FILE")
    // within 20 seconds: a failure, for a cancel stopped it.
    static void ExpectPeerFailed(const fs::path& file) {
        std::string text;
        ProcessEventsUntil(
            [&] {
                text = ReadAll(file);
                return !text.empty() && text.back() == '\n';
            },
            20000);
        ASSERT_FALSE(text.empty()) << file << ": the peer still runs";
        EXPECT_NE(std::stoi(text), 0);
    }
    // A peer started over TCP without a pty, which may lose what its program
    // wrote just before it ended (its cancel). socat gets longer than the
    // relay's hold to pass that on: by default it drops what is still unsent
    // half a second after the command ends.
    int PeerWithoutPty(const std::string& command, const fs::path& folder) {
        const int port = LoopbackPeer::FreePort();
        StartPeer("socat -t 10 TCP-LISTEN:" + std::to_string(port) +
                      ",bind=127.0.0.1,reuseaddr SYSTEM:'" + command + "'",
                  folder);
        return port;
    }

    fs::path Err() const { return root / "telvora.err"; }
    // The program started from the command line in the background, its
    // messages into Err(); its process id.
    pid_t StartTelvora(const std::string& arguments) {
        const std::string command =
            "exec " + std::string(TELVORA_BINARY) + " " + arguments + " 2>" + Quote(Err().string());
        const pid_t started = fork();
        if (started == 0) {
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        EXPECT_GT(started, 0);
        return started;
    }
    // How the program ended (a wait status), within ten seconds.
    static int EndOf(pid_t started) {
        int ended = -1;
        ProcessEventsUntil(
            [&] { return started > 0 && waitpid(started, &ended, WNOHANG) == started; }, 10000);
        return ended;
    }
    // A headless download of big.bin into `folder` from `peer` through a
    // relay that holds the line partway; `act` while it is held. How the
    // program ended.
    int HeldHeadlessDownload(const std::string& peer, const fs::path& folder,
                             const std::function<void(pid_t)>& act) {
        relay.emplace(PeerOverTcp(peer, root / "sent"), kRelayLimit,
                      std::vector<TTcpRelay::TFault>{{kFromServer, 300000, Fault::Stall, kHold}});
        const pid_t started = StartTelvora("--headless --exit-when-done " + Raw(relay->Port()) +
                                           " --receive-zmodem " + Quote(folder.string()));
        const bool held = ProcessEventsUntil([&] { return relay->FaultsDone() > 0; }, 20000);
        EXPECT_TRUE(held) << "the relay never held the line";
        if (held && started > 0) {
            act(started);
        }
        return EndOf(started);
    }

    void TearDown() override {
        relay.reset();
        program.reset();
        SetMessageSink({});
        LrzszTest::TearDown();
    }

    std::vector<std::pair<std::string, std::string>> files;
    std::optional<TTcpRelay> relay;
    std::optional<TProgram> program;
    QStringList messages;
};

// A line, and whether the program's window or its command line carries the
// batch.
struct TWay {
    const char* name;
    Line line;
    bool window;
};
void PrintTo(const TWay& way, std::ostream* out) {
    *out << way.name;
}

class ZmodemWays : public ZmodemTransfers, public ::testing::WithParamInterface<TWay> {
protected:
    // The test's name holds a '/', so its root is a folder inside one of its own.
    void TearDown() override {
        const fs::path parent = root.parent_path();
        ZmodemTransfers::TearDown();
        std::error_code ignored;
        fs::remove(parent, ignored);
    }
};

TEST_P(ZmodemWays, ABatchCrossesBothWays) {
    const auto [name, line, window] = GetParam();
    WriteTheBatch();
    for (const bool upload : {false, true}) {
        SCOPED_TRACE(upload ? "upload" : "download");
        const fs::path arrivals = upload ? PeerFolder(true) : root / "received";
        const std::string command = upload ? Rz() : Sz();
        if (window) {
            ConnectedWindow(PeerBehindTelnetd(command, PeerFolder(upload)), TLineProtocol::Telnet);
            EXPECT_EQ(FromTheWindow(upload, Paths()).status, status::kComplete);
        } else {
            const std::string connection = Connection(line, command, PeerFolder(upload), upload);
            ExpectComplete(upload ? Send(connection) : Receive(connection, arrivals),
                           line == Line::RawTcp || line == Line::Serial);
        }
        if (relay) {
            EXPECT_EQ(relay->FaultsDone(), 5);
        }
        if (upload) {
            WaitForPeer();
        }
        ExpectArrivedWhole(arrivals);
        relay.reset();
        StopPeer();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ZmodemWays,
    ::testing::Values(TWay{"RealTelnetServerFromTheCommandLine", Line::Telnet, false},
                      TWay{"RealTelnetServerFromTheWindow", Line::Telnet, true},
                      TWay{"RawTcp", Line::RawTcp, false}, TWay{"SerialLine", Line::Serial, false},
                      TWay{"LineThatSpoilsBytesAndStalls", Line::Spoiling, false}),
    [](const ::testing::TestParamInfo<TWay>& info) { return std::string(info.param.name); });

TEST_F(ZmodemTransfers, ADownloadCutMidwayIsResumedWithoutWhatAlreadyCame) {
    WriteTheBatch(1024 * 1024);
    const std::string& random = Content("random.bin");
    {
        TTcpRelay cut(PeerOverTcp(Sz(), root / "sent"), kRelayLimit,
                      {{kFromServer, 400000, Fault::Cut}});
        const Outcome run = Receive(Raw(cut.Port()), root / "received");
        EXPECT_EQ(cut.FaultsDone(), 1);
        EXPECT_EQ(run.status, 1) << run.err;
    }
    StopPeer();
    const std::string partial = Read(root / "received" / "random.bin");
    ASSERT_GT(partial.size(), 200000u);
    ASSERT_LT(partial.size(), random.size());
    EXPECT_TRUE(random.compare(0, partial.size(), partial) == 0) << "kept bytes differ";

    relay.emplace(PeerOverTcp(Sz(), root / "sent"), kRelayLimit);
    const Outcome resumed = Receive(Raw(relay->Port()), root / "received", " --resume");
    EXPECT_EQ(resumed.status, 0) << resumed.err;
    ExpectArrivedWhole(root / "received");
    EXPECT_FALSE(fs::exists(root / "received" / "random.1.bin"));
    std::size_t crossed = 0;
    for (const TTcpRelay::TRun& run : relay->Runs()) {
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
    ExpectComplete(run, false);
    ExpectArrivedWhole(root / "received");
    EXPECT_EQ(ExpectRows(run.out, {"WELCOME TO THE BOARD", "READY TO SEND", "rz"}), 24u) << run.out;
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

// SIGTERM in the middle of a download from the command line: the board's
// sz gets the cancel and stops at once instead of waiting for its own
// timeout, and the program says so and ends as the signal says.
TEST_F(ZmodemTransfers, ASignalCancelsTheDownloadBeforeTheProgramEnds) {
    Write("big.bin", RandomBytes(2 * 1024 * 1024, 47));
    const fs::path szStatus = root / "sz.status";
    const int ended =
        HeldHeadlessDownload(PeerOfTheBigFile(false) + "; echo $? > " + szStatus.string(),
                             root / "received", [](pid_t started) { kill(started, SIGTERM); });
    const std::string told = ReadAll(Err());
    EXPECT_TRUE(WIFSIGNALED(ended) && WTERMSIG(ended) == SIGTERM) << told;
    EXPECT_NE(told.find("cancelling the transfer"), std::string::npos) << told;
    ExpectPeerFailed(szStatus);
}

// The download folder removed while sz's file comes in: the file is not
// where the user will look for it, so the run is no success.
TEST_F(ZmodemTransfers, AFolderRemovedDuringADownloadIsAFileLostNotAComplete) {
    Write("big.bin", RandomBytes(2 * 1024 * 1024, 53));
    const fs::path folder = root / "going";
    fs::create_directories(folder);
    const int ended = HeldHeadlessDownload(PeerOfTheBigFile(false), folder,
                                           [&](pid_t) { fs::remove_all(folder); });
    const std::string told = ReadAll(Err());
    EXPECT_TRUE(WIFEXITED(ended) && WEXITSTATUS(ended) == 1) << told;
    EXPECT_NE(told.find("File lost: "), std::string::npos) << told;
}

// A board's send into a download folder not made yet: it is made and the
// file arrives. Into one where no file can be made (the kernel's /proc): our
// cancel stops sz at once, nothing of the transfer reaches the screen, and
// the headless run fails at once instead of waiting for sz or ending well.
TEST_F(ZmodemTransfers, ABoardsSendMakesItsFolderOrIsCancelledAtOnceWhenItCannotBeWritten) {
    Write("big.bin", RandomBytes(300000, 57));
    const fs::path szStatus = root / "sz.status";
    const std::string script =
        Board("printf 'READY\\233'\nsz -q big.bin; echo $? > " + szStatus.string());
    const auto board = [&](const std::string& folder, const std::string& exit) {
        const int port = PeerOverTcp(script, root / "sent");
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
    ExpectRows(refused.out, {"READY", "rz"});
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
    const pid_t started = StartTelvora("--headless --exit-when-done " + Raw(port) +
                                       " --receive-zmodem " + Quote(folder.string()));
    ASSERT_GT(started, 0);
    LinePort line;
    TZmodemSender sender(line, source);
    sender.Start(paths);
    EXPECT_TRUE(Drive(sender, line, bridge));
    const int ended = EndOf(started);
    const std::string told = ReadAll(Err());
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
    Write("big.bin", RandomBytes(2 * 1024 * 1024, 41));
    for (const bool upload : {false, true}) {
        SCOPED_TRACE(upload ? "upload" : "download");
        const fs::path peerStatus = root / (upload ? "rz.status" : "sz.status");
        const int port = PeerOverTcp(
            PeerOfTheBigFile(upload) + "; echo $? > " + peerStatus.string(), PeerFolder(upload));
        EXPECT_EQ(HeldInTheWindow(port, upload,
                                  [](TTransferWindow& transfer) {
                                      transfer.BitBtn1->click();
                                      return true;
                                  }),
                  status::kCancelled);
        ExpectPeerFailed(peerStatus);
        StopPeer();
    }
}

// A download the user cancels while the existing-file question is open:
// sz's own cancel is kept off the screen, and the board's text after it
// shows there at once.
TEST_F(ZmodemTransfers, WhatFollowsACancelStaysOffTheScreenUntilTheBoardsText) {
    Write("big.bin", RandomBytes(100000, 59));
    std::ofstream(root / "received" / "big.bin") << "already here";
    Window(true);
    Connect(PeerWithoutPty(Board("sz -q big.bin\nprintf '\\233BACK AT THE BOARD'"), root / "sent"),
            TLineProtocol::Raw);
    TTransferWindow& download = TransferWindow(false);
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
    ExpectRows(screen.ScreenText(), {"rz", "BACK AT THE BOARD"});
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

TEST_F(ZmodemTransfers, TheOtherSidesCancelEndsOurWindowEitherWay) {
    const std::string big = RandomBytes(2 * 1024 * 1024, 42);
    Write("big.bin", big);
    std::vector<std::string> endings;
    for (const bool upload : {false, true}) {
        SCOPED_TRACE(upload ? "upload" : "download");
        // Stopped, sz and rz send their cancel sequence as they end.
        const fs::path idFile = root / (upload ? "rz.id" : "sz.id");
        const int port =
            PeerWithoutPty("echo $$ > " + idFile.string() + "; exec " + PeerOfTheBigFile(upload),
                           PeerFolder(upload));
        const std::string ending = HeldInTheWindow(port, upload, [&](TTransferWindow&) {
            const std::string id = ReadAll(idFile);
            if (id.empty()) {
                return false;
            }
            ::kill(std::stoi(id), SIGTERM);
            return true;
        });
        // Its cancel if that came (lrzsz sends it as it ends); a lost line if
        // the peer died before its cancel left it, which happens now and then
        // on a loaded machine.
        endings.push_back(CancelCameThrough(*relay) ? status::kCancelledByPeer
                                                    : status::kConnectionLost);
        EXPECT_EQ(ending, endings.back());
        if (!upload) {
            const std::string kept = Read(root / "received" / "big.bin");
            EXPECT_LT(kept.size(), big.size());
            EXPECT_TRUE(big.compare(0, kept.size(), kept) == 0) << "what came differs";
        }
        StopPeer();
    }
    // The other side's cancel itself is recognised in at least one of the two.
    EXPECT_NE(std::find(endings.begin(), endings.end(), status::kCancelledByPeer), endings.end());
}

TEST_F(ZmodemTransfers, ANameReachingOutOfTheFolderLandsInsideIt) {
    fs::create_directories(root / "sent" / "inner");
    Write("outside.bin", "from the folder above\n");
    // sz sends the name as it was given.
    ConnectedWindow(PeerOverTcp("sz -q ../outside.bin", root / "sent" / "inner"),
                    TLineProtocol::Raw);
    EXPECT_EQ(FromTheWindow(false).status, status::kComplete);
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
    ConnectedWindow(PeerOverTcp(Sz(), root / "sent"), TLineProtocol::Raw);
    TTransferWindow& download = TransferWindow(false);
    int asked = 0;
    bool shown = false;
    QString question;
    const TTransferProgress end = FromTheWindow(false, {}, [&] {
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
