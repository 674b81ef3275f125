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
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace telvora;
using namespace telvora::test;

namespace {

std::string ExpectedDump(const std::string& bytes, int columns = 40) {
    ScreenModel model;
    model.SetColumns(columns);
    model.Write(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    return ScreenDump(model);
}

TEST(TelvoraCommandLine, DumpsTheFinalScreenOfEveryTestFile) {
    int files = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(TELVORA_TESTDATA_DIR) + "/atascii")) {
        if (entry.path().extension() == ".md") {
            continue;
        }
        const Outcome outcome =
            RunTelvora("--headless --speed max --dump-screen --exit-when-done " +
                       Quote(entry.path().string()));
        EXPECT_EQ(outcome.status, 0) << entry.path() << outcome.err;
        EXPECT_EQ(outcome.out, ExpectedDump(ReadAll(entry.path()))) << entry.path();
        ++files;
    }
    EXPECT_GE(files, 10);
}

TEST(TelvoraCommandLine, EightyColumnsDumpAndPrintEightyCodesARow) {
    for (const char* name : {"capture-a.cap", "capture-mainmenu.cap"}) {
        const std::string capture = std::string(TELVORA_TESTDATA_DIR) + "/atascii/" + name;
        const Outcome dump = RunTelvora(
            "--headless --speed max --columns 80 --dump-screen --exit-when-done " + Quote(capture));
        EXPECT_EQ(dump.status, 0) << dump.err;
        EXPECT_EQ(dump.out, ExpectedDump(ReadAll(capture), 80)) << name;
        EXPECT_EQ(dump.out.find('\n'), 80u * 3 - 1);

        const Outcome text = RunTelvora(
            "--headless --speed max --columns 80 --dump-text --exit-when-done " + Quote(capture));
        EXPECT_EQ(text.status, 0) << text.err;
        const std::string bytes = ReadAll(capture);
        ScreenModel model;
        model.SetColumns(80);
        model.Write(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        EXPECT_EQ(text.out, ScreenToUtf8(model)) << name;
    }
    // A screenshot is of the whole 80 columns: at Small, cells of 8 x 8.
    const auto picture = std::filesystem::temp_directory_path() /
                         ("telvora_cli_wide_" + std::to_string(getpid()) + ".png");
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

    const Outcome bad = RunTelvora("--headless --columns 64 --exit-when-done");
    EXPECT_NE(bad.status, 0);
    EXPECT_NE(bad.err.find("--columns takes 40 or 80"), std::string::npos) << bad.err;
}

TEST(TelvoraCommandLine, TheScreenAndTheScrollbackOfEveryTestFileAsText) {
    const auto saved = std::filesystem::temp_directory_path() /
                       ("telvora_cli_scrollback." + std::to_string(getpid()) + ".txt");
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(TELVORA_TESTDATA_DIR) + "/atascii")) {
        if (entry.path().extension() == ".md") {
            continue;
        }
        const Outcome outcome =
            RunTelvora("--headless --speed max --dump-text --exit-when-done --save-scrollback " +
                       Quote(saved.string()) + " " + Quote(entry.path().string()));
        EXPECT_EQ(outcome.status, 0) << entry.path() << outcome.err;
        // What the same bytes leave in a model: its screen, and every row
        // kept since the start (the clear a movie starts with keeps nothing).
        const std::string bytes = ReadAll(entry.path());
        ScreenModel model;
        model.SetColumns(40);
        model.Write(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        EXPECT_EQ(outcome.out, ScreenToUtf8(model)) << entry.path();
        TRows rows;
        const TLineSpan span = LineSpanOf(model);
        for (TLine line = span.FirstKept(); line <= span.LastLine(); ++line) {
            rows.push_back(LineCodes(model, line));
        }
        EXPECT_EQ(ReadAll(saved), RowsAsText(rows)) << entry.path();
        EXPECT_EQ(std::count(outcome.out.begin(), outcome.out.end(), '\n'), 24);
    }
    std::filesystem::remove(saved);
}

TEST(TelvoraCommandLine, AScrollbackSavedAsAMovieReplaysToTheSameScreen) {
    const auto movie = std::filesystem::temp_directory_path() /
                       ("telvora_cli_scrollback." + std::to_string(getpid()) + ".ata");
    const std::string original = std::string(TELVORA_TESTDATA_DIR) + "/atascii/bbs-USERLIST.ata";
    const Outcome first = RunTelvora("--headless --speed max --dump-screen --exit-when-done "
                                     "--save-scrollback " +
                                     Quote(movie.string()) + " " + Quote(original));
    ASSERT_EQ(first.status, 0) << first.err;
    const Outcome replayed = RunTelvora("--headless --speed max --dump-screen --exit-when-done " +
                                        Quote(movie.string()));
    ASSERT_EQ(replayed.status, 0) << replayed.err;
    // The rows, not the cursor: the replay leaves it after the last row's text.
    const auto rows = [](const std::string& dump) { return dump.substr(0, dump.rfind("cursor")); };
    EXPECT_EQ(rows(replayed.out), rows(first.out));
    std::filesystem::remove(movie);
}

TEST(TelvoraCommandLine, ATextFileIsTypedIntoTheLineMappedToAtascii) {
    const auto text = std::filesystem::temp_directory_path() /
                      ("telvora_cli_text." + std::to_string(getpid()) + ".txt");
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
    const std::string movie = Quote(std::string(TELVORA_TESTDATA_DIR) + "/atascii/bbs-MAIN.ata");
    // PNG, JPEG and BMP by their first bytes; PNG for a name without a suffix.
    for (const auto& [suffix, magic] : std::vector<std::pair<std::string, std::string>>{
             {".png", "\x89PNG"}, {".JPG", "\xff\xd8\xff"}, {".bmp", "BM"}, {"", "\x89PNG"}}) {
        const auto picture = std::filesystem::temp_directory_path() /
                             ("telvora_cli_shot_" + std::to_string(getpid()) + suffix);
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
    const Outcome unknown =
        RunTelvora("--headless --exit-when-done --screenshot out.nosuch " + movie);
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("no image format is known by that suffix"), std::string::npos)
        << unknown.err;
    EXPECT_NE(unknown.err.find(".png"), std::string::npos) << "the known ones are listed";
}

TEST(TelvoraCommandLine, EscapeLiteralShowsTheCodesOfARealCapture) {
    // "TEST", Escape 127, Escape 255, as drawn on an Atari.
    const std::string capture = Quote(std::string(TELVORA_TESTDATA_DIR) + "/atascii/esc-test.ata");
    const Outcome literal = RunTelvora(
        "--headless --speed max --escape-literal --dump-screen --exit-when-done " + capture);
    EXPECT_EQ(literal.status, 0) << literal.err;
    EXPECT_EQ(literal.out.substr(0, 6 * 3 - 1), "54 45 53 54 7F FF");
    EXPECT_NE(literal.out.find("cursor 7 1"), std::string::npos) << literal.out;
    // By default the codes act: a tab, then an inserted blank.
    const Outcome acting =
        RunTelvora("--headless --speed max --dump-screen --exit-when-done " + capture);
    EXPECT_EQ(acting.out.substr(0, 4 * 3 - 1), "54 45 53 54");
    EXPECT_EQ(acting.out.find("7F"), std::string::npos);
}

TEST(TelvoraCommandLine, AHeadlessRunWithNothingToDoIsSilent) {
    const Outcome outcome = RunTelvora("--headless --exit-when-done");
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(outcome.out, "");
}

TEST(TelvoraCommandLine, AnUnreadableMovieFailsWithItsMessage) {
    const Outcome outcome = RunTelvora("--headless --exit-when-done /nonexistent/movie.ata");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("Cannot open file \"/nonexistent/movie.ata\""), std::string::npos)
        << outcome.err;
}

TEST(TelvoraCommandLine, BadOptionsPrintTheUsage) {
    const Outcome outcome = RunTelvora("--speed 9600");
    EXPECT_EQ(outcome.status, 2);
    EXPECT_NE(outcome.err.find("--speed takes 300, 600, 1200, 2400 or max"), std::string::npos);
    EXPECT_NE(outcome.err.find("Usage: telvora"), std::string::npos);
}

TEST(TelvoraCommandLine, HelpAndVersion) {
    const Outcome help = RunTelvora("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: telvora"), std::string::npos);
    const Outcome version = RunTelvora("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("Telvora ", 0), 0u);
}

TEST(TelvoraCommandLine, ExitAfterStopsAPlayingMovie) {
    const auto movie = std::filesystem::temp_directory_path() /
                       ("telvora_cli_slow." + std::to_string(getpid()) + ".ata");
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

TEST(TelvoraCommandLine, AScreenshotThatCannotBeWrittenFails) {
    const Outcome outcome =
        RunTelvora("--headless --exit-when-done --screenshot /dev/full " +
                   Quote(std::string(TELVORA_TESTDATA_DIR) + "/atascii/bbs-MAIN.ata"));
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("cannot save the screenshot to '/dev/full'"), std::string::npos)
        << outcome.err;
}

TEST(TelvoraCommandLine, AMovieNamedInBytesThatAreNotUtf8Plays) {
    const auto movie = std::filesystem::temp_directory_path() /
                       ("telvora_cli_\xff\xfe." + std::to_string(getpid()) + ".ata");
    std::ofstream(movie, std::ios::binary) << "HI";
    const Outcome outcome = RunTelvora("--headless --speed max --dump-screen --exit-when-done " +
                                       Quote(movie.string()));
    std::filesystem::remove(movie);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out.substr(0, 5), "48 49");
}

TEST(TelvoraCommandLine, ANamedPipeIsRefusedInsteadOfWaitedFor) {
    const auto pipe = std::filesystem::temp_directory_path() /
                      ("telvora_cli_pipe." + std::to_string(getpid()) + ".ata");
    std::filesystem::remove(pipe);
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const Outcome outcome = RunTelvora("--headless --exit-when-done " + Quote(pipe.string()));
    std::filesystem::remove(pipe);
    EXPECT_EQ(outcome.status, 1) << "status 124 means it waited for the pipe";
    EXPECT_NE(outcome.err.find("It is not a regular file."), std::string::npos) << outcome.err;
}

TEST(TelvoraCommandLine, AnExitTimeOutOfRangeIsAUsageError) {
    const Outcome outcome = RunTelvora("--headless --exit-after 1e12");
    EXPECT_EQ(outcome.status, 2);
    EXPECT_NE(outcome.err.find("--exit-after takes a number of seconds from 0 to 604800"),
              std::string::npos)
        << outcome.err;
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

} // namespace

namespace {

TEST(TelvoraCommandLine, ConnectsToATelnetHostGivenEitherWayAndEndsWhenItHangsUp) {
    for (const std::string form : {"--telnet 127.0.0.1:", "telnet://127.0.0.1:"}) {
        const std::string greeting = "WELCOME TO THE BBS\x9b";
        SendingPeer peer({greeting.begin(), greeting.end()});
        const Outcome run =
            RunTelvora("--headless --exit-when-done --dump-screen " + form + peer.PortText());
        EXPECT_EQ(run.status, 0) << form << run.err;
        EXPECT_NE(run.err.find("Connection closed by remote host."), std::string::npos) << run.err;
        // The screen is cleared when a connection starts, then shows the greeting.
        EXPECT_EQ(run.out, ExpectedDump(greeting)) << form;
    }
}

TEST(TelvoraCommandLine, ARecordedSessionPlaysBackToTheSameScreen) {
    // Text, a clear, cursor moves, an inserted line, a tab, an Escaped arrow.
    const std::string session = "OLD TEXT\x7d"
                                "MAIN MENU\x9b\x9b(F)ILES\x1c\x1c\x1f\x1f*\x9d"
                                "\x7f"
                                "NEW\x1b\x1e!\x9b"
                                "BYE\x9b";
    const auto movie = std::filesystem::temp_directory_path() /
                       ("telvora_cli_record." + std::to_string(getpid()) + ".ata");
    SendingPeer peer({session.begin(), session.end()});
    const Outcome live =
        RunTelvora("--headless --exit-when-done --dump-screen --record " + Quote(movie.string()) +
                   " --telnet 127.0.0.1:" + peer.PortText());
    EXPECT_EQ(live.status, 0) << live.err;
    EXPECT_EQ(ReadAll(movie), session) << "every byte the screen showed, in order";
    const Outcome played = RunTelvora("--headless --speed max --exit-when-done --dump-screen " +
                                      Quote(movie.string()));
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
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("Cannot write the recording /dev/full: No space left on device. "
                           "Recording has stopped; the session goes on."),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.out, ExpectedDump(greeting));
    const Outcome unmade = RunTelvora("--headless --exit-when-done --record /nonexistent/x.ata "
                                      "--telnet 127.0.0.1:1");
    EXPECT_EQ(unmade.status, 1);
    EXPECT_NE(unmade.err.find("Cannot create the recording /nonexistent/x.ata"), std::string::npos)
        << unmade.err;
}

TEST(TelvoraCommandLine, AConnectionThatCannotBeMadeFails) {
    const RefusingPort refusing;
    const Outcome refused = RunTelvora("--headless --exit-when-done --telnet 127.0.0.1:" +
                                       std::to_string(refusing.Port()));
    EXPECT_EQ(refused.status, 1) << refused.err;
    EXPECT_NE(refused.err.find("Cannot Connect - Connection refused"), std::string::npos)
        << refused.err;

    // An address that never answers is given up after the connect timeout.
    const SilentPort silent(AF_INET, 0);
    ASSERT_TRUE(silent.Ok());
    const Outcome unanswered =
        RunTelvora("--headless --exit-when-done --connect-timeout 0.5 --raw 127.0.0.1:" +
                   std::to_string(silent.Port()));
    EXPECT_EQ(unanswered.status, 1) << unanswered.err;
    EXPECT_NE(unanswered.err.find("Cannot Connect - Connection timed out"), std::string::npos)
        << unanswered.err;

    const Outcome noPort =
        RunTelvora("--headless --exit-when-done --serial /dev/telvora-no-such-port");
    EXPECT_EQ(noPort.status, 1) << noPort.err;
    EXPECT_NE(noPort.err.find("Cannot Open /dev/telvora-no-such-port - "), std::string::npos)
        << noPort.err;

    const Outcome badTarget = RunTelvora("--telnet host:99999");
    EXPECT_EQ(badTarget.status, 2);
    EXPECT_NE(badTarget.err.find("not a Telnet host"), std::string::npos) << badTarget.err;
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
