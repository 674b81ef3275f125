// The telvora program run from a shell, headless: its exit status, its
// messages and the screen it prints.
#include "screen/row_text.h"
#include "screen/screen_dump.h"
#include "screen/screen_model.h"
#include "screen/screen_view.h"

#include "loopback_peer.h"
#include "run_telvora.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace telvora;
using namespace telvora::test;

namespace {

// What the same bytes leave in a screen of that width.
ScreenModel Played(const std::string& bytes, int columns = 40) {
    ScreenModel model;
    model.SetColumns(columns);
    model.Write(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    return model;
}

std::string ExpectedDump(const std::string& bytes, int columns = 40) {
    return ScreenDump(Played(bytes, columns));
}

std::string TestFile(const std::string& name) {
    return std::string(TELVORA_TESTDATA_DIR) + "/atascii/" + name;
}

// A file of this process's own in the temporary folder.
std::filesystem::path TempPath(const std::string& stem, const std::string& suffix) {
    return std::filesystem::temp_directory_path() / (stem + std::to_string(getpid()) + suffix);
}

// Every capture and movie of the test data, without their description.
std::vector<std::filesystem::path> TestFiles() {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(TestFile(""))) {
        if (entry.path().extension() != ".md") {
            files.push_back(entry.path());
        }
    }
    EXPECT_GE(files.size(), 10u);
    return files;
}

// A movie played at full speed, and the screen it leaves dumped.
Outcome DumpOf(const std::filesystem::path& movie, const std::string& options = "") {
    return RunTelvora("--headless --speed max --dump-screen --exit-when-done " + options +
                      Quote(movie.string()));
}

// The run ended with that status and said those words.
void ExpectEnded(const Outcome& outcome, int status, const std::string& words) {
    EXPECT_EQ(outcome.status, status) << outcome.err;
    EXPECT_NE(outcome.err.find(words), std::string::npos) << outcome.err;
}

// The final screen as a dump and as text, and the scrollback saved as text.
TEST(TelvoraCommandLine, EveryTestFileGivesTheScreenAndTheScrollbackOfAModel) {
    const auto saved = TempPath("telvora_cli_scrollback.", ".txt");
    for (const auto& file : TestFiles()) {
        const Outcome dump = DumpOf(file);
        EXPECT_EQ(dump.status, 0) << file << dump.err;
        EXPECT_EQ(dump.out, ExpectedDump(ReadAll(file))) << file;
        const Outcome outcome =
            RunTelvora("--headless --speed max --dump-text --exit-when-done --save-scrollback " +
                       Quote(saved.string()) + " " + Quote(file.string()));
        EXPECT_EQ(outcome.status, 0) << file << outcome.err;
        // What the same bytes leave in a model: its screen, and every row
        // kept since the start (the clear a movie starts with keeps nothing).
        const ScreenModel model = Played(ReadAll(file));
        EXPECT_EQ(outcome.out, ScreenToUtf8(model)) << file;
        TRows rows;
        const TLineSpan span = LineSpanOf(model);
        for (TLine line = span.FirstKept(); line <= span.LastLine(); ++line) {
            rows.push_back(LineCodes(model, line));
        }
        EXPECT_EQ(ReadAll(saved), RowsAsText(rows)) << file;
        EXPECT_EQ(std::count(outcome.out.begin(), outcome.out.end(), '\n'), 24);
    }
    std::filesystem::remove(saved);
}

TEST(TelvoraCommandLine, EightyColumnsDumpAndPrintEightyCodesARow) {
    const std::string wide = "--headless --speed max --columns 80 --exit-when-done ";
    for (const char* name : {"capture-a.cap", "capture-mainmenu.cap"}) {
        const std::string capture = TestFile(name);
        const Outcome dump = RunTelvora(wide + "--dump-screen " + Quote(capture));
        EXPECT_EQ(dump.status, 0) << dump.err;
        EXPECT_EQ(dump.out, ExpectedDump(ReadAll(capture), 80)) << name;
        EXPECT_EQ(dump.out.find('\n'), 80u * 3 - 1);
        const Outcome text = RunTelvora(wide + "--dump-text " + Quote(capture));
        EXPECT_EQ(text.status, 0) << text.err;
        EXPECT_EQ(text.out, ScreenToUtf8(Played(ReadAll(capture), 80))) << name;
    }
    // A screenshot is of the whole 80 columns: at Small, cells of 8 x 8.
    const auto picture = TempPath("telvora_cli_wide_", ".png");
    const Outcome shot = RunTelvora("--headless --size small --columns 80 --exit-when-done "
                                    "--screenshot " +
                                    Quote(picture.string()));
    EXPECT_EQ(shot.status, 0) << shot.err;
    const std::string png = ReadAll(picture);
    ASSERT_GT(png.size(), 24u);
    const auto bigEndian = [&png](std::size_t at) {
        return (static_cast<unsigned char>(png[at]) << 24) |
               (static_cast<unsigned char>(png[at + 1]) << 16) |
               (static_cast<unsigned char>(png[at + 2]) << 8) |
               static_cast<unsigned char>(png[at + 3]);
    };
    EXPECT_EQ(bigEndian(16), 640u) << "width in the PNG header";
    EXPECT_EQ(bigEndian(20), 192u) << "height in the PNG header";
    std::filesystem::remove(picture);
}

TEST(TelvoraCommandLine, AScrollbackSavedAsAMovieReplaysToTheSameScreen) {
    const auto movie = TempPath("telvora_cli_scrollback.", ".ata");
    const Outcome first =
        DumpOf(TestFile("bbs-USERLIST.ata"), "--save-scrollback " + Quote(movie.string()) + " ");
    ASSERT_EQ(first.status, 0) << first.err;
    const Outcome replayed = DumpOf(movie);
    ASSERT_EQ(replayed.status, 0) << replayed.err;
    // The rows, not the cursor: the replay leaves it after the last row's text.
    const auto rows = [](const std::string& dump) { return dump.substr(0, dump.rfind("cursor")); };
    EXPECT_EQ(rows(replayed.out), rows(first.out));
    std::filesystem::remove(movie);
}

TEST(TelvoraCommandLine, ATextFileIsTypedIntoTheLineMappedToAtascii) {
    const auto text = TempPath("telvora_cli_text.", ".txt");
    std::ofstream(text, std::ios::binary) << "Hi\r\nthere\n\u2665\u00e9!";
    LoopbackPeer peer;
    std::vector<std::uint8_t> typed;
    std::thread board([&] {
        if (peer.Accept()) {
            typed = peer.Read(11);
            peer.CloseConnection();
        }
    });
    const Outcome run =
        RunTelvora("--headless --exit-when-done --telnet 127.0.0.1:" + peer.PortText() +
                   " --send-text " + Quote(text.string()));
    board.join();
    EXPECT_EQ(run.status, 0) << run.err;
    // Line ends as End Of Line, the heart as code 0; the accented letter has no code.
    EXPECT_EQ(typed,
              (std::vector<std::uint8_t>{'H', 'i', 155, 't', 'h', 'e', 'r', 'e', 155, 0, '!'}));
    const Outcome missing =
        RunTelvora("--headless --exit-when-done --telnet 127.0.0.1:" + peer.PortText() +
                   " --send-text /no/such/file.txt");
    EXPECT_NE(missing.status, 0);
    std::filesystem::remove(text);
}

TEST(TelvoraCommandLine, DumpHasOneLinePerRowAndTheCursor) {
    const Outcome outcome = RunTelvora("--headless --dump-screen --exit-when-done");
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    std::string blankRow;
    for (int column = 0; column < 40; ++column) {
        blankRow += column == 0 ? "20" : " 20";
    }
    std::string expected;
    for (int row = 0; row < 24; ++row) {
        expected += blankRow + "\n";
    }
    expected += "cursor 1 1\n";
    EXPECT_EQ(outcome.out, expected);
}

TEST(TelvoraCommandLine, AScreenshotIsWrittenInTheFormatItsSuffixNames) {
    const std::string movie = Quote(TestFile("bbs-MAIN.ata"));
    // PNG, JPEG and BMP by their first bytes; PNG for a name without a suffix.
    for (const auto& [suffix, magic] : std::vector<std::pair<std::string, std::string>>{
             {".png", "\x89PNG"}, {".JPG", "\xff\xd8\xff"}, {".bmp", "BM"}, {"", "\x89PNG"}}) {
        const auto picture = TempPath("telvora_cli_shot_", suffix);
        std::filesystem::remove(picture);
        const Outcome outcome =
            RunTelvora("--headless --size small --exit-when-done --screenshot " +
                       Quote(picture.string()) + " " + movie);
        EXPECT_EQ(outcome.status, 0) << suffix << outcome.err;
        EXPECT_EQ(outcome.err, "") << "a headless run prints only its own messages";
        const std::string image = ReadAll(picture);
        ASSERT_GT(image.size(), 100u) << suffix;
        EXPECT_EQ(image.substr(0, magic.size()), magic) << suffix;
        std::filesystem::remove(picture);
    }
}

TEST(TelvoraCommandLine, EscapeLiteralShowsTheCodesOfARealCapture) {
    // "TEST", Escape 127, Escape 255, as drawn on an Atari.
    const std::string capture = TestFile("esc-test.ata");
    const Outcome literal = DumpOf(capture, "--escape-literal ");
    EXPECT_EQ(literal.status, 0) << literal.err;
    EXPECT_EQ(literal.out.substr(0, 6 * 3 - 1), "54 45 53 54 7F FF");
    EXPECT_NE(literal.out.find("cursor 7 1"), std::string::npos) << literal.out;
    // By default the codes act: a tab, then an inserted blank.
    const Outcome acting = DumpOf(capture);
    EXPECT_EQ(acting.out.substr(0, 4 * 3 - 1), "54 45 53 54");
    EXPECT_EQ(acting.out.find("7F"), std::string::npos);
}

TEST(TelvoraCommandLine, AHeadlessRunWithNothingToDoIsSilent) {
    const Outcome outcome = RunTelvora("--headless --exit-when-done");
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(outcome.out, "");
}

// A run that cannot do what it was asked ends at once with status 2 for a
// usage error, 1 for a failure, and says why.
struct TRefusal {
    const char* name;
    int status;
    std::string arguments;
    const char* said; // somewhere in the messages
    const char* alsoSaid = nullptr;
};
void PrintTo(const TRefusal& refusal, std::ostream* os) {
    *os << refusal.name;
}

class TelvoraRefusal : public ::testing::TestWithParam<TRefusal> {};

TEST_P(TelvoraRefusal, EndsWithItsStatusAndMessage) {
    const TRefusal& refusal = GetParam();
    const Outcome outcome = RunTelvora(refusal.arguments);
    ExpectEnded(outcome, refusal.status, refusal.said);
    if (refusal.alsoSaid != nullptr) {
        EXPECT_NE(outcome.err.find(refusal.alsoSaid), std::string::npos) << outcome.err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    TelvoraCommandLine, TelvoraRefusal,
    ::testing::ValuesIn(std::vector<TRefusal>{
        {"BadSpeedPrintsTheUsage", 2, "--speed 9600", "--speed takes 300, 600, 1200, 2400 or max",
         "Usage: telvora"},
        {"BadColumns", 2, "--headless --columns 64 --exit-when-done", "--columns takes 40 or 80"},
        {"ExitTimeOutOfRange", 2, "--headless --exit-after 1e12",
         "--exit-after takes a number of seconds from 0 to 604800"},
        {"BadTelnetTarget", 2, "--telnet host:99999", "not a Telnet host"},
        // The known suffixes are listed.
        {"UnknownScreenshotSuffix", 2,
         "--headless --exit-when-done --screenshot out.nosuch " + Quote(TestFile("bbs-MAIN.ata")),
         "no image format is known by that suffix", ".png"},
        {"UnreadableMovie", 1, "--headless --exit-when-done /nonexistent/movie.ata",
         "Cannot open file \"/nonexistent/movie.ata\""},
        {"UnwritableScreenshot", 1,
         "--headless --exit-when-done --screenshot /dev/full " + Quote(TestFile("bbs-MAIN.ata")),
         "cannot save the screenshot to '/dev/full'"},
        {"UncreatableRecording", 1,
         "--headless --exit-when-done --record /nonexistent/x.ata --telnet 127.0.0.1:1",
         "Cannot create the recording /nonexistent/x.ata"},
        {"MissingSerialPort", 1, "--headless --exit-when-done --serial /dev/telvora-no-such-port",
         "Cannot Open /dev/telvora-no-such-port - "}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TelvoraCommandLine, HelpAndVersion) {
    const Outcome help = RunTelvora("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: telvora"), std::string::npos);
    const Outcome version = RunTelvora("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("Telvora ", 0), 0u);
}

TEST(TelvoraCommandLine, ExitAfterStopsAPlayingMovie) {
    const auto movie = TempPath("telvora_cli_slow.", ".ata");
    std::ofstream(movie) << std::string(2000, 'z');
    const Outcome outcome = RunTelvora("--headless --speed 300 --exit-after 1.5 --dump-screen " +
                                       Quote(movie.string()));
    std::filesystem::remove(movie);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    // About 50 bytes at 27 ms each: far from the whole movie.
    EXPECT_EQ(outcome.out.substr(0, 2), "7A");
    EXPECT_EQ(outcome.out.find("cursor 1 1"), std::string::npos);
    EXPECT_NE(outcome.out.find("cursor"), std::string::npos);
    EXPECT_EQ(outcome.out.find("7A", 40 * 3 * 12), std::string::npos);
}

TEST(TelvoraCommandLine, AMovieNamedInBytesThatAreNotUtf8Plays) {
    const auto movie = TempPath("telvora_cli_\xff\xfe.", ".ata");
    std::ofstream(movie, std::ios::binary) << "HI";
    const Outcome outcome = DumpOf(movie);
    std::filesystem::remove(movie);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out.substr(0, 5), "48 49");
}

TEST(TelvoraCommandLine, ANamedPipeIsRefusedInsteadOfWaitedFor) {
    const auto pipe = TempPath("telvora_cli_pipe.", ".ata");
    std::filesystem::remove(pipe);
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const Outcome outcome = RunTelvora("--headless --exit-when-done " + Quote(pipe.string()));
    std::filesystem::remove(pipe);
    EXPECT_EQ(outcome.status, 1) << "status 124 means it waited for the pipe";
    EXPECT_NE(outcome.err.find("It is not a regular file."), std::string::npos) << outcome.err;
}

TEST(TelvoraCommandLine, TestsNeverTouchTheUsersConfiguration) {
    // Everything the program (and Qt for it) writes goes to the test's home.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    ASSERT_NE(config, nullptr);
    ASSERT_NE(home, nullptr);
    const std::string folder = config;
    EXPECT_TRUE(folder.find("test-home") != std::string::npos ||
                folder.find("telvora-test-config") != std::string::npos)
        << folder;
    EXPECT_NE(std::string(home).find("test-home"), std::string::npos) << home;
}

TEST(TelvoraCommandLine, ConnectsToATelnetHostGivenEitherWayAndEndsWhenItHangsUp) {
    for (const std::string form : {"--telnet 127.0.0.1:", "telnet://127.0.0.1:"}) {
        SCOPED_TRACE(form);
        const std::string greeting = "WELCOME TO THE BBS\x9b";
        SendingPeer peer({greeting.begin(), greeting.end()});
        const Outcome run =
            RunTelvora("--headless --exit-when-done --dump-screen " + form + peer.PortText());
        ExpectEnded(run, 0, "Connection closed by remote host.");
        // The screen is cleared when a connection starts, then shows the greeting.
        EXPECT_EQ(run.out, ExpectedDump(greeting));
    }
}

TEST(TelvoraCommandLine, ARecordedSessionPlaysBackToTheSameScreen) {
    // Text, a clear, cursor moves, an inserted line, a tab, an Escaped arrow.
    const std::string session = "OLD TEXT\x7d"
                                "MAIN MENU\x9b\x9b(F)ILES\x1c\x1c\x1f\x1f*\x9d"
                                "\x7f"
                                "NEW\x1b\x1e!\x9b"
                                "BYE\x9b";
    const auto movie = TempPath("telvora_cli_record.", ".ata");
    SendingPeer peer({session.begin(), session.end()});
    const Outcome live =
        RunTelvora("--headless --exit-when-done --dump-screen --record " + Quote(movie.string()) +
                   " --telnet 127.0.0.1:" + peer.PortText());
    EXPECT_EQ(live.status, 0) << live.err;
    EXPECT_EQ(ReadAll(movie), session) << "every byte the screen showed, in order";
    const Outcome played = DumpOf(movie);
    EXPECT_EQ(played.status, 0) << played.err;
    EXPECT_EQ(played.out, live.out);
    std::filesystem::remove(movie);
}

// A dump asked for without anything to end the run: it says that it waits,
// and a stop (here SIGINT, as Ctrl+C) still prints the screen.
TEST(TelvoraCommandLine, ADumpWithoutAnEndSaysItWaitsAndAStopStillPrintsIt) {
    const auto folder =
        std::filesystem::temp_directory_path() / ("telvora-dump-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto movie = folder / "a.ata";
    std::ofstream(movie, std::ios::binary) << "A";
    const auto out = folder / "out";
    const auto err = folder / "err";
    std::system(("timeout -s INT 2 " + Quote(TELVORA_BINARY) + " --headless --speed max " +
                 "--dump-screen " + Quote(movie.string()) + " >" + Quote(out.string()) + " 2>" +
                 Quote(err.string()))
                    .c_str());
    EXPECT_NE(ReadAll(err).find("it runs until it is stopped"), std::string::npos) << ReadAll(err);
    EXPECT_NE(ReadAll(out).find("cursor 2 1"), std::string::npos) << ReadAll(out);
    std::filesystem::remove_all(folder);
}

TEST(TelvoraCommandLine, ARecordingThatCannotBeWrittenStopsAndTheSessionGoesOn) {
    const std::string greeting = "STILL HERE\x9b";
    SendingPeer peer({greeting.begin(), greeting.end()});
    const Outcome run = RunTelvora("--headless --exit-when-done --dump-screen --record /dev/full "
                                   "--telnet 127.0.0.1:" +
                                   peer.PortText());
    ExpectEnded(run, 0,
                "Cannot write the recording /dev/full: No space left on device. "
                "Recording has stopped; the session goes on.");
    EXPECT_EQ(run.out, ExpectedDump(greeting));
}

TEST(TelvoraCommandLine, AConnectionThatCannotBeMadeFails) {
    const RefusingPort refusing;
    const Outcome refused = RunTelvora("--headless --exit-when-done --telnet 127.0.0.1:" +
                                       std::to_string(refusing.Port()));
    ExpectEnded(refused, 1, "Cannot Connect - Connection refused");

    // An address that never answers is given up after the connect timeout.
    const SilentPort silent(AF_INET, 0);
    ASSERT_TRUE(silent.Ok());
    const Outcome unanswered =
        RunTelvora("--headless --exit-when-done --connect-timeout 0.5 --raw 127.0.0.1:" +
                   std::to_string(silent.Port()));
    ExpectEnded(unanswered, 1, "Cannot Connect - Connection timed out");
}

TEST(TelvoraCommandLine, ARealTelnetdGreetsWithItsLoginPrompt) {
    ASSERT_EQ(std::system("command -v socat >/dev/null && test -x /usr/sbin/telnetd"), 0)
        << "socat and inetutils-telnetd are needed (scripts/install-deps.sh installs them)";
    const int port = LoopbackPeer::FreePort();
    const std::string server = "timeout 30 socat TCP-LISTEN:" + std::to_string(port) +
                               ",bind=127.0.0.1,reuseaddr EXEC:/usr/sbin/telnetd,nofork";
    FILE* socat = popen((server + " >/dev/null 2>&1").c_str(), "r");
    ASSERT_NE(socat, nullptr);
    Outcome run;
    // socat needs a moment to listen; a refused connect is simply tried again.
    for (int attempt = 0; attempt < 20; ++attempt) {
        run = RunTelvora("--headless --exit-after 3 --dump-screen --telnet 127.0.0.1:" +
                         std::to_string(port));
        if (run.err.find("Connection refused") == std::string::npos) {
            break;
        }
        usleep(200 * 1000);
    }
    std::system(("pkill -f 'TCP-LISTEN:" + std::to_string(port) + ",' >/dev/null 2>&1").c_str());
    pclose(socat);
    EXPECT_EQ(run.status, 0) << run.err;
    // "login:" in the dump's hex
    EXPECT_NE(run.out.find("6C 6F 67 69 6E 3A"), std::string::npos) << run.out << run.err;
}

} // namespace
