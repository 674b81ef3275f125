#include "app/command_line.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>

using namespace telvora;

namespace {

using Args = std::vector<std::string>;

CommandLineResult Parse(const Args& arguments) {
    return ParseCommandLine(arguments);
}

// The options of arguments that must be understood.
CommandLineOptions Understood(const Args& arguments) {
    const auto result = ParseCommandLine(arguments);
    EXPECT_TRUE(result.Ok()) << testing::PrintToString(arguments) << ": " << result.error;
    return result.options;
}

TEST(CommandLine, NothingGivenMeansAPlainStart) {
    const auto o = Understood({});
    EXPECT_FALSE(o.moviePath);
    EXPECT_FALSE(o.speed);
    EXPECT_FALSE(o.headless);
    EXPECT_FALSE(o.columns);
}

TEST(CommandLine, EveryOptionIsUnderstood) {
    const auto o = Understood({"--headless", "--speed", "1200", "--size=large", "--exit-when-done",
                               "--exit-after", "2.5", "--dump-screen", "--screenshot", "out.png",
                               "--play", "movie.ata", "--connect-timeout", "0.5"});
    EXPECT_TRUE(o.headless);
    EXPECT_EQ(o.speed, 1200);
    EXPECT_EQ(o.fontDelta, 16);
    EXPECT_TRUE(o.exitWhenDone);
    EXPECT_EQ(o.exitAfterSeconds, 2.5);
    EXPECT_EQ(o.connectTimeoutSeconds, 0.5);
    EXPECT_TRUE(o.dumpScreen);
    EXPECT_EQ(o.screenshotPath, "out.png");
    EXPECT_EQ(o.moviePath, "movie.ata");
}

TEST(CommandLine, SerialLinesTakeTheirSettingsAndAModemCall) {
    const auto o =
        Understood({"--serial", "/dev/ttyUSB0", "--baud=2400", "--format", "7e2", "--flow",
                    "XONXOFF", "--dial", "bbs.example.org:23", "--init", "ATZ&F", "--redial", "3"});
    EXPECT_EQ(o.serialDevice, "/dev/ttyUSB0");
    EXPECT_EQ(o.baud, 2400);
    EXPECT_EQ(o.format, "7E2");
    EXPECT_EQ(o.flow, TSerialFlow::XonXoff);
    EXPECT_EQ(o.dial, (TModemSettings{"ATZ&F", "ATDT", "bbs.example.org:23", 3}));
    EXPECT_EQ(Understood({"--serial", "/dev/ttyS0"}).serialDevice, "/dev/ttyS0");
}

TEST(CommandLine, SpeedsAndSizesMapToTheirMenuTags) {
    EXPECT_EQ(Parse({"--speed", "300"}).options.speed, 300);
    EXPECT_EQ(Parse({"--speed", "2400"}).options.speed, 2400);
    EXPECT_EQ(Parse({"--speed=max"}).options.speed, 999999999);
    EXPECT_EQ(Parse({"--size", "small"}).options.fontDelta, 0);
    EXPECT_EQ(Parse({"--size", "medium"}).options.fontDelta, 8);
    EXPECT_EQ(Parse({"--columns", "80"}).options.columns, 80);
    EXPECT_EQ(Parse({"--columns=40"}).options.columns, 40);
}

// After "--" a name that looks like an option or an address is a movie file.
TEST(CommandLine, ABareFileIsTheMovie) {
    for (const auto& [arguments, movie] : std::vector<std::pair<Args, std::string>>{
             {{"a.ata"}, "a.ata"},
             {{"--", "--odd-name.ata"}, "--odd-name.ata"},
             {{"--", "telnet://x"}, "telnet://x"},
             {{"--", "raw://x"}, "raw://x"},
         }) {
        const auto o = Understood(arguments);
        EXPECT_EQ(o.moviePath, movie);
        EXPECT_FALSE(o.telnet) << movie;
    }
}

TEST(CommandLine, AConnectionIsOpenedAtStart) {
    for (const auto& [arguments, target] : std::vector<std::pair<Args, TelnetTarget>>{
             {{"--telnet=bbs:23", "--speed", "300"}, TelnetTarget{"bbs", "23"}},
             {{"telnet://bbs:6400"}, TelnetTarget{"bbs", "6400"}},
             {{"raw://bbs:2323"}, TelnetTarget{"bbs", "2323", true}},
             {{"raw://[::1]:2323/"}, TelnetTarget{"::1", "2323", true}},
             {{"--raw", "bbs"}, TelnetTarget{"bbs", "23", true}},
             {{"--raw=[::1]:6400"}, TelnetTarget{"::1", "6400", true}},
             {{"--raw", "::1"}, TelnetTarget{"::1", "23", true}},
             {{"--telnet", "[::1]:23"}, TelnetTarget{"::1", "23", false}},
             {{"--telnet", "[::1]"}, TelnetTarget{"::1", "23", false}},
             {{"telnet://[::1]:2323/"}, TelnetTarget{"::1", "2323", false}},
             {{"--telnet=::1"}, TelnetTarget{"::1", "23", false}},
         }) {
        const auto o = Understood(arguments);
        EXPECT_EQ(o.telnet, target) << arguments.front();
        EXPECT_FALSE(o.moviePath) << arguments.front();
    }
}

TEST(CommandLine, OnlyOneMovieOrConnectionIsOpenedAtStart) {
    // Each with the one that came second.
    for (const auto& [arguments, second] : std::vector<std::pair<Args, std::string>>{
             {{"movie.ata", "--telnet", "bbs"}, "bbs"},
             {{"--serial", "/dev/ttyS0", "telnet://bbs"}, "telnet://bbs"},
             {{"--telnet", "a", "--telnet", "b"}, "b"},
             {{"--raw", "a", "--telnet", "b"}, "b"},
             {{"--telnet", "a", "--raw", "b"}, "b"},
             {{"raw://a", "telnet://b"}, "telnet://b"},
             {{"telnet://a", "raw://b"}, "raw://b"},
             {{"--raw", "a", "raw://b"}, "raw://b"},
             {{"--serial", "/dev/ttyS0", "--raw", "bbs"}, "bbs"},
             {{"--raw", "bbs", "--serial", "/dev/ttyS0"}, "/dev/ttyS0"},
             {{"movie.ata", "raw://bbs"}, "raw://bbs"},
             {{"raw://bbs", "movie.ata"}, "movie.ata"},
             {{"--raw", "bbs", "--play", "movie.ata"}, "movie.ata"},
         }) {
        EXPECT_EQ(Parse(arguments).error,
                  "only one movie or connection can be opened at start, not also '" + second + "'")
            << testing::PrintToString(arguments);
    }
}

// Downloads and uploads run over raw TCP as over Telnet or a serial line.
TEST(CommandLine, TransfersAreUnderstood) {
    const auto ymodem =
        Understood({"--telnet", "bbs", "--send-ymodem", "a.bin", "--send-ymodem=b c"});
    EXPECT_EQ(ymodem.send, (SendRequest{TSendProtocol::YModem, {"a.bin", "b c"}}));
    EXPECT_EQ(Understood({"--serial", "/dev/ttyS0", "--send-xmodem-1k", "x.bin"}).send,
              (SendRequest{TSendProtocol::XModem1k, {"x.bin"}}));
    EXPECT_EQ(Understood({"--telnet", "bbs", "--receive-fmodem", "in"}).receive,
              (ReceiveRequest{true, "in"}));
    EXPECT_EQ(Understood({"--telnet", "bbs", "--receive-ymodem-g=in"}).receive,
              (ReceiveRequest{true, "in", false, true}));
    EXPECT_EQ(Understood({"--raw", "bbs", "--receive-xmodem", "x.bin"}).receive,
              (ReceiveRequest{false, "x.bin"}));
    const auto raw = Understood({"raw://[::1]:2323", "--send-ymodem", "a", "--send-ymodem", "b"});
    EXPECT_EQ(raw.send, (SendRequest{TSendProtocol::YModem, {"a", "b"}}));
    EXPECT_EQ(raw.telnet, (TelnetTarget{"::1", "2323", true}));
}

TEST(CommandLine, ZmodemTakesAFolderOrSeveralFilesAndItsOwnSettings) {
    const auto receive = Understood(
        {"--raw", "bbs:9000", "--receive-zmodem", "in", "--resume", "--download-folder=d"});
    EXPECT_EQ(receive.receive, (ReceiveRequest{true, "in", true}));
    EXPECT_TRUE(receive.resume);
    EXPECT_EQ(receive.downloadFolder, "d");
    EXPECT_EQ(Understood({"--telnet", "bbs", "--send-zmodem", "a", "--send-zmodem", "b"}).send,
              (SendRequest{TSendProtocol::Zmodem, {"a", "b"}}));
    // Auto-start needs no transfer of its own, only somewhere to put the files.
    const auto autoStart = Understood({"--headless", "--download-folder", "in", "telnet://bbs"});
    EXPECT_FALSE(autoStart.receive);
    EXPECT_FALSE(autoStart.resume);
}

TEST(CommandLine, TheScreenAsTextAndATextToTypeAreUnderstood) {
    const auto text = Understood(
        {"--telnet", "bbs", "--send-text", "msg.txt", "--dump-text", "--save-scrollback=all.txt"});
    EXPECT_EQ(text.sendTextPath, "msg.txt");
    EXPECT_TRUE(text.dumpText);
    EXPECT_EQ(text.saveScrollbackPath, "all.txt");
    EXPECT_FALSE(text.dumpScreen);
    EXPECT_EQ(Understood({"--typing-pace", "5,0"}).typingPace, (TypingPace{5, 0}));
}

TEST(CommandLine, MistakesAreReportedClearly) {
    const std::vector<std::pair<Args, std::string>> cases = {
        {{"--speed", "9600"}, "--speed takes 300, 600, 1200, 2400 or max, not '9600'"},
        {{"--speed"}, "option --speed needs a value"},
        {{"--raw"}, "option --raw needs a value"},
        {{"--size", "huge"}, "--size takes small, medium or large, not 'huge'"},
        {{"--columns", "64"}, "--columns takes 40 or 80, not '64'"},
        {{"--columns", "080"}, "--columns takes 40 or 80, not '080'"},
        {{"--connect-timeout", "0"},
         "--connect-timeout takes a number of seconds above 0 up to 604800, not '0'"},
        {{"--exit-after", "soon"},
         "--exit-after takes a number of seconds from 0 to 604800, not 'soon'"},
        {{"--exit-after", "-1"},
         "--exit-after takes a number of seconds from 0 to 604800, not '-1'"},
        {{"--exit-after", "1e300"},
         "--exit-after takes a number of seconds from 0 to 604800, not '1e300'"},
        {{"--exit-after", "3000000000"},
         "--exit-after takes a number of seconds from 0 to 604800, not '3000000000'"},
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"--headless=yes"}, "option --headless takes no value"},
        {{"a.ata", "b.ata"}, "only one movie can be played: 'a.ata' and 'b.ata'"},
        {{"--play", "a.ata", "b.ata"}, "only one movie can be played: 'a.ata' and 'b.ata'"},
        {{"--screenshot="}, "--screenshot needs a file name"},
        {{"--baud", "9600"},
         "--baud, --format, --flow, --dial, --init and --redial need --serial "
         "DEVICE"},
        {{"--serial", "x", "--baud", "14400"},
         "--baud takes 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200 or 230400, "
         "not '14400'"},
        {{"--serial", "x", "--format", "8N3"},
         "--format takes data bits (7 or 8), parity (N, E or O) and stop bits (1 or 2), as 8N1 or "
         "7E1, not '8N3'"},
        {{"--serial", "x", "--flow", "dtr"}, "--flow takes none, rtscts or xonxoff, not 'dtr'"},
        {{"--serial", "x", "--init", "ATZ"}, "--init and --redial need --dial NUMBER"},
        {{"--serial", "x", "--dial", "1", "--redial", "100"},
         "--redial takes a number of tries from 0 to 99, not '100'"},
        // Without any connection the messages name all three kinds.
        {{"--receive-ymodem", "in"}, "a download needs a connection: --telnet, --raw or --serial"},
        {{"--send-xmodem", "x.bin"}, "an upload needs a connection: --telnet, --raw or --serial"},
        {{"movie.ata", "--send-xmodem", "x.bin"},
         "an upload needs a connection: --telnet, --raw or --serial"},
        // A host's problem comes with the forms that are taken.
        {{"--telnet", "[::1"},
         "not a Telnet host: '[::1' (the '[' before an IPv6 address has no ']'; write HOST, "
         "HOST:PORT, [IPV6-ADDRESS]:PORT or telnet://HOST:PORT)"},
        {{"telnet://[::1]x"},
         "not a Telnet host: 'telnet://[::1]x' (only :PORT may follow the ']' of an IPv6 "
         "address; write HOST, HOST:PORT, [IPV6-ADDRESS]:PORT or telnet://HOST:PORT)"},
        {{"--raw", "a:b:c"},
         "not a raw TCP host: 'a:b:c' (several ':' but not an IPv6 address; an IPv6 address "
         "with a port is written in brackets; write HOST, HOST:PORT, [IPV6-ADDRESS]:PORT or "
         "raw://HOST:PORT)"},
        {{"--raw=telnet://bbs"},
         "not a raw TCP host: 'telnet://bbs' (only a raw:// address is taken here; write "
         "HOST, HOST:PORT, [IPV6-ADDRESS]:PORT or raw://HOST:PORT)"},
        {{"--telnet", "host:99999"},
         "not a Telnet host: 'host:99999' (the port must be a number from 1 to 65535; "
         "write HOST, HOST:PORT, [IPV6-ADDRESS]:PORT or telnet://HOST:PORT)"},
    };
    for (const auto& [arguments, message] : cases) {
        EXPECT_EQ(Parse(arguments).error, message) << testing::PrintToString(arguments);
    }
}

TEST(CommandLine, TheseAreRefused) {
    for (const Args& wrong : std::vector<Args>{
             {"--serial", ""},
             {"--telnet"},
             // Transfers need a connection, and only Y-Modem and ZMODEM send several files.
             {"--receive-ymodem-g", "in"},
             {"--receive-xmodem", "x.bin"},
             {"--receive-zmodem", "in"},
             {"--telnet", "bbs", "--receive-ymodem-g", "in", "--receive-ymodem", "in"},
             {"--telnet", "bbs", "--send-xmodem", "x", "--send-xmodem", "y"},
             {"--telnet", "bbs", "--send-ymodem", "x", "--send-xmodem", "y"},
             {"--telnet", "bbs", "--send-ymodem", ""},
             {"--telnet", "bbs", "--send-ymodem", "x", "--receive-ymodem", "in"},
             {"--telnet", "bbs", "--receive-zmodem", ""},
             {"--telnet", "bbs", "--download-folder", ""},
             {"--telnet", "bbs", "--send-zmodem", "a", "--send-ymodem", "b"},
             {"--telnet", "bbs", "--send-zmodem", "a", "--receive-zmodem", "in"},
             {"--telnet", "bbs", "--receive-zmodem", "in", "--receive-ymodem", "in"},
             {"--telnet", "bbs", "--resume=yes"},
             // A text to type needs a connection and no transfer beside it.
             {"--send-text", "msg.txt"},
             {"--telnet", "bbs", "--send-text", ""},
             {"--telnet", "bbs", "--send-text", "m", "--send-ymodem", "x"},
             {"--telnet", "bbs", "--send-text", "m", "--receive-ymodem", "in"},
             {"--save-scrollback"},
             {"--dump-text=yes"},
             {"--typing-pace", "20"},
             {"--typing-pace", "20,"},
             {"--typing-pace", "-1,200"},
             {"--typing-pace", "20,99999"},
             {"--typing-pace", "x,y"},
         }) {
        EXPECT_FALSE(Parse(wrong).Ok()) << testing::PrintToString(wrong);
    }
}

TEST(CommandLine, HostsAreTakenInEveryForm) {
    struct Case {
        std::string text;
        std::optional<TelnetTarget> target;
    };
    const std::vector<Case> telnet = {
        {"bbs.example.org", TelnetTarget{"bbs.example.org", "23"}},
        {"bbs.example.org:6502", TelnetTarget{"bbs.example.org", "6502"}},
        {"telnet://10.0.0.2", TelnetTarget{"10.0.0.2", "23"}},
        {"telnet://10.0.0.2:2323/", TelnetTarget{"10.0.0.2", "2323"}},
        {"host:00023", TelnetTarget{"host", "23"}},
        {"", std::nullopt},
        {"telnet://", std::nullopt},
        {":23", std::nullopt},
        {"host:", std::nullopt},
        {"host:0", std::nullopt},
        {"host:65536", std::nullopt},
        {"host:-1", std::nullopt},
        {"host:23x", std::nullopt},
        {"two words", std::nullopt},
        {"telnet://host/menu", std::nullopt},
        {"TELNET://guest:pw@bbs:2323", TelnetTarget{"bbs", "2323", false, "guest"}},
        {"guest@bbs", TelnetTarget{"bbs", "23", false, "guest"}},
        {"@bbs", TelnetTarget{"bbs", "23"}},
        // IPv6 addresses take a port only in brackets.
        {"[::1]", TelnetTarget{"::1", "23"}},
        {"[::1]:2323", TelnetTarget{"::1", "2323"}},
        {"telnet://[::1]:2323/", TelnetTarget{"::1", "2323"}},
        {"telnet://[::1]", TelnetTarget{"::1", "23"}},
        {"[2001:db8::17]:6502", TelnetTarget{"2001:db8::17", "6502"}},
        {"[::ffff:10.0.0.2]", TelnetTarget{"::ffff:10.0.0.2", "23"}},
        {"[fe80::1%eth0]:23", TelnetTarget{"fe80::1%eth0", "23"}},
        // Without brackets the whole text is the address, on port 23: the
        // last group of "::1:23" is a group, not a port.
        {"::1", TelnetTarget{"::1", "23"}},
        {"2001:db8::17", TelnetTarget{"2001:db8::17", "23"}},
        {"::1:23", TelnetTarget{"::1:23", "23"}},
        {"telnet://::1", TelnetTarget{"::1", "23"}},
    };
    for (const Case& c : telnet) {
        EXPECT_EQ(ParseTelnetTarget(c.text), c.target) << c.text;
    }
    const std::vector<Case> raw = {
        {"bbs.example.org", TelnetTarget{"bbs.example.org", "23", true}},
        {"bbs.example.org:6502", TelnetTarget{"bbs.example.org", "6502", true}},
        {"raw://10.0.0.2", TelnetTarget{"10.0.0.2", "23", true}},
        {"raw://10.0.0.2:2323/", TelnetTarget{"10.0.0.2", "2323", true}},
        {"raw://[::1]:2323/", TelnetTarget{"::1", "2323", true}},
        {"[::1]", TelnetTarget{"::1", "23", true}},
        {"::1", TelnetTarget{"::1", "23", true}},
        {"raw://", std::nullopt},
        {"raw://host/menu", std::nullopt},
        {"telnet://bbs", std::nullopt},
        {"host:0", std::nullopt},
        {"[::1", std::nullopt},
    };
    for (const Case& c : raw) {
        EXPECT_EQ(ParseRawTarget(c.text), c.target) << c.text;
    }
}

TEST(CommandLine, MalformedAddressesSayWhatIsWrong) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"[::1", "the '[' before an IPv6 address has no ']'"},
        {"telnet://[::1:23/", "the '[' before an IPv6 address has no ']'"},
        {"::1]", "a ']' without its '['"},
        {"[]", "'' in brackets is not an IPv6 address"},
        {"[]:23", "'' in brackets is not an IPv6 address"},
        {"[bbs.example]:23", "'bbs.example' in brackets is not an IPv6 address"},
        {"[10.0.0.2]", "'10.0.0.2' in brackets is not an IPv6 address"},
        {"[::1]x", "only :PORT may follow the ']' of an IPv6 address"},
        {"[::1]]", "only :PORT may follow the ']' of an IPv6 address"},
        {"[::1]:", "the port must be a number from 1 to 65535"},
        {"[::1]:0", "the port must be a number from 1 to 65535"},
        {"[::1]:65536", "the port must be a number from 1 to 65535"},
        {"[::1]:23/", "the port must be a number from 1 to 65535"},
        {"a:b:c", "several ':' but not an IPv6 address; an IPv6 address with a port is written "
                  "in brackets"},
        {"::1::2", "several ':' but not an IPv6 address; an IPv6 address with a port is "
                   "written in brackets"},
        {"[fe80::1%]", "'fe80::1%' in brackets is not an IPv6 address"},
        {"", "no host"},
        {"host:x", "the port must be a number from 1 to 65535"},
        {"raw://bbs", "only a telnet:// address is taken here"},
    };
    for (const auto& [text, problem] : cases) {
        std::string why;
        EXPECT_EQ(ParseTelnetTarget(text, &why), std::nullopt) << text;
        EXPECT_EQ(why, problem) << text;
    }
}

TEST(CommandLine, UsageNamesEveryOptionAndExplainsTheHosts) {
    const std::string usage = CommandLineUsage();
    EXPECT_EQ(usage.rfind("Usage: telvora [options] [MOVIE-FILE | telnet://[USER@]HOST[:PORT] | "
                          "raw://HOST[:PORT]]\n",
                          0),
              0u);
    for (const char* text :
         {"--play",
          "--speed",
          "--size",
          "--columns",
          "--headless",
          "--exit-when-done",
          "--exit-after",
          "--dump-screen",
          "--screenshot",
          "--help",
          "--version",
          "--telnet",
          "--raw",
          "--serial",
          "telnet://",
          "raw://",
          "[::1]:2323",
          "--send-ymodem FILE",
          "--receive-ymodem-g FOLDER",
          "--receive-zmodem FOLDER",
          "--send-zmodem FILE",
          "--download-folder FOLDER",
          "--resume",
          "An IPv6 address without brackets (::1)",
          "  --raw HOST[:PORT]      connect to this host by raw TCP at start: no Telnet,\n"
          "                         every byte as it is (port 23 unless given)\n"}) {
        EXPECT_NE(usage.find(text), std::string::npos) << text;
    }
}

TEST(CommandLine, TheManPageNamesEveryOptionOfTheHelp) {
    std::ifstream file(std::string(TELVORA_SOURCE_DIR) + "/resources/desktop/telvora.1");
    const std::string page(std::istreambuf_iterator<char>(file), {});
    ASSERT_FALSE(page.empty());
    const std::string usage = CommandLineUsage();
    const std::regex option("--[a-z0-9-]+");
    int options = 0;
    for (auto match = std::sregex_iterator(usage.begin(), usage.end(), option);
         match != std::sregex_iterator(); ++match, ++options) {
        std::string escaped;
        for (const char c : match->str()) {
            escaped += c == '-' ? std::string("\\-") : std::string(1, c);
        }
        EXPECT_NE(page.find(escaped), std::string::npos) << match->str();
    }
    EXPECT_GT(options, 20);
}

} // namespace
