#include "app/command_line.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>

using namespace telvora;

namespace {

CommandLineResult Parse(std::vector<std::string> arguments) {
    return ParseCommandLine(arguments);
}

TEST(CommandLine, NothingGivenMeansAPlainStart) {
    const auto result = Parse({});
    ASSERT_TRUE(result.Ok());
    EXPECT_FALSE(result.options.moviePath);
    EXPECT_FALSE(result.options.speed);
    EXPECT_FALSE(result.options.headless);
}

TEST(CommandLine, EveryOptionIsUnderstood) {
    const auto result = Parse({"--headless", "--speed", "1200", "--size=large", "--exit-when-done",
                               "--exit-after", "2.5", "--dump-screen", "--screenshot", "out.png",
                               "--play", "movie.ata", "--connect-timeout", "0.5"});
    ASSERT_TRUE(result.Ok()) << result.error;
    const auto& o = result.options;
    EXPECT_TRUE(o.headless);
    EXPECT_EQ(o.speed, 1200);
    EXPECT_EQ(o.fontDelta, 16);
    EXPECT_TRUE(o.exitWhenDone);
    EXPECT_DOUBLE_EQ(*o.exitAfterSeconds, 2.5);
    EXPECT_DOUBLE_EQ(*o.connectTimeoutSeconds, 0.5);
    EXPECT_TRUE(o.dumpScreen);
    EXPECT_EQ(o.screenshotPath, "out.png");
    EXPECT_EQ(o.moviePath, "movie.ata");
}

TEST(CommandLine, SerialLinesTakeTheirSettingsAndAModemCall) {
    const auto o =
        Parse({"--serial", "/dev/ttyUSB0", "--baud=2400", "--format", "7e2", "--flow", "XONXOFF",
               "--dial", "bbs.example.org:23", "--init", "ATZ&F", "--redial", "3"})
            .options;
    EXPECT_EQ(o.baud, 2400);
    EXPECT_EQ(o.format, "7E2");
    EXPECT_EQ(o.flow, TSerialFlow::XonXoff);
    ASSERT_TRUE(o.dial);
    EXPECT_EQ(o.dial->Number, "bbs.example.org:23");
    EXPECT_EQ(o.dial->InitString, "ATZ&F");
    EXPECT_EQ(o.dial->DialCommand, "ATDT");
    EXPECT_EQ(o.dial->Redials, 3);
}

TEST(CommandLine, SpeedsAndSizesMapToTheirMenuTags) {
    EXPECT_EQ(Parse({"--speed", "300"}).options.speed, 300);
    EXPECT_EQ(Parse({"--speed", "2400"}).options.speed, 2400);
    EXPECT_EQ(Parse({"--speed=max"}).options.speed, 999999999);
    EXPECT_EQ(Parse({"--size", "small"}).options.fontDelta, 0);
    EXPECT_EQ(Parse({"--size", "medium"}).options.fontDelta, 8);
    EXPECT_EQ(Parse({"--columns", "80"}).options.columns, 80);
    EXPECT_EQ(Parse({"--columns=40"}).options.columns, 40);
    EXPECT_FALSE(Parse({}).options.columns);
}

TEST(CommandLine, ABareFileIsTheMovie) {
    EXPECT_EQ(Parse({"a.ata"}).options.moviePath, "a.ata");
    EXPECT_EQ(Parse({"--", "--odd-name.ata"}).options.moviePath, "--odd-name.ata");
}

TEST(CommandLine, MistakesAreReportedClearly) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--speed", "9600"}, "--speed takes 300, 600, 1200, 2400 or max, not '9600'"},
        {{"--speed"}, "option --speed needs a value"},
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
    };
    for (const auto& [arguments, message] : cases) {
        const auto result = Parse(arguments);
        EXPECT_FALSE(result.Ok()) << arguments.front();
        EXPECT_EQ(result.error, message);
    }
}

TEST(CommandLine, UsageNamesEveryOption) {
    const std::string usage = CommandLineUsage();
    for (const char* option :
         {"--play", "--speed", "--size", "--columns", "--headless", "--exit-when-done",
          "--exit-after", "--dump-screen", "--screenshot", "--help", "--version", "--telnet",
          "--raw", "--serial", "telnet://", "raw://", "[::1]:2323"}) {
        EXPECT_NE(usage.find(option), std::string::npos) << option;
    }
}

TEST(CommandLine, TelnetHostsAreTakenInEveryForm) {
    struct Case {
        std::string text;
        std::optional<TelnetTarget> target;
    };
    const std::vector<Case> cases = {
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
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseTelnetTarget(c.text), c.target) << c.text;
    }
}

TEST(CommandLine, OneMovieOrConnectionIsOpenedAtStart) {
    auto telnet = Parse({"--telnet=bbs:23", "--speed", "300"});
    ASSERT_TRUE(telnet.Ok()) << telnet.error;
    EXPECT_EQ(telnet.options.telnet, (TelnetTarget{"bbs", "23"}));
    auto url = Parse({"telnet://bbs:6400"});
    ASSERT_TRUE(url.Ok()) << url.error;
    EXPECT_EQ(url.options.telnet, (TelnetTarget{"bbs", "6400"}));
    EXPECT_FALSE(url.options.moviePath);
    auto serial = Parse({"--serial", "/dev/ttyUSB0"});
    ASSERT_TRUE(serial.Ok()) << serial.error;
    EXPECT_EQ(serial.options.serialDevice, "/dev/ttyUSB0");
    // After "--" a name that looks like an address is a movie file.
    auto file = Parse({"--", "telnet://x"});
    ASSERT_TRUE(file.Ok());
    EXPECT_EQ(file.options.moviePath, "telnet://x");

    for (const auto& twice :
         std::vector<std::vector<std::string>>{{"movie.ata", "--telnet", "bbs"},
                                               {"--serial", "/dev/ttyS0", "telnet://bbs"},
                                               {"--telnet", "a", "--telnet", "b"},
                                               {"--serial", ""},
                                               {"--telnet"}}) {
        EXPECT_FALSE(Parse(twice).Ok()) << twice.front();
    }
}

} // namespace

namespace {

TEST(CommandLine, TransfersNeedAConnectionAndOnlyYModemTakesSeveralFiles) {
    const auto ymodem = Parse({"--telnet", "bbs", "--send-ymodem", "a.bin", "--send-ymodem=b c"});
    ASSERT_TRUE(ymodem.Ok()) << ymodem.error;
    EXPECT_EQ(ymodem.options.send, (SendRequest{TSendProtocol::YModem, {"a.bin", "b c"}}));
    const auto xmodem = Parse({"--serial", "/dev/ttyS0", "--send-xmodem-1k", "x.bin"});
    ASSERT_TRUE(xmodem.Ok()) << xmodem.error;
    EXPECT_EQ(xmodem.options.send, (SendRequest{TSendProtocol::XModem1k, {"x.bin"}}));
    const auto receive = Parse({"--telnet", "bbs", "--receive-fmodem", "in"});
    ASSERT_TRUE(receive.Ok()) << receive.error;
    EXPECT_EQ(receive.options.receive, (ReceiveRequest{true, "in"}));
    EXPECT_EQ(Parse({"--telnet", "bbs", "--receive-ymodem-g=in"}).options.receive,
              (ReceiveRequest{true, "in", false, true}));

    for (const std::vector<std::string>& wrong : std::vector<std::vector<std::string>>{
             {"--send-xmodem", "x.bin"},
             {"--receive-ymodem-g", "in"},
             {"--telnet", "bbs", "--receive-ymodem-g", "in", "--receive-ymodem", "in"},
             {"--telnet", "bbs", "--send-xmodem", "x", "--send-xmodem", "y"},
             {"--telnet", "bbs", "--send-ymodem", "x", "--send-xmodem", "y"},
             {"--telnet", "bbs", "--send-ymodem", ""},
             {"--telnet", "bbs", "--send-ymodem", "x", "--receive-ymodem", "in"},
             {"--receive-xmodem", "x.bin"},
         }) {
        EXPECT_FALSE(Parse(wrong).Ok()) << wrong.back();
    }
    EXPECT_NE(CommandLineUsage().find("--send-ymodem FILE"), std::string::npos);
    EXPECT_NE(CommandLineUsage().find("--receive-ymodem-g FOLDER"), std::string::npos);
}

TEST(CommandLine, ZmodemTakesAFolderOrSeveralFilesAndItsOwnSettings) {
    const auto receive =
        Parse({"--raw", "bbs:9000", "--receive-zmodem", "in", "--resume", "--download-folder=d"});
    ASSERT_TRUE(receive.Ok()) << receive.error;
    EXPECT_EQ(receive.options.receive, (ReceiveRequest{true, "in", true}));
    EXPECT_TRUE(receive.options.resume);
    EXPECT_EQ(receive.options.downloadFolder, "d");
    const auto send = Parse({"--telnet", "bbs", "--send-zmodem", "a", "--send-zmodem", "b"});
    ASSERT_TRUE(send.Ok()) << send.error;
    EXPECT_EQ(send.options.send, (SendRequest{TSendProtocol::Zmodem, {"a", "b"}}));
    // Auto-start needs no transfer of its own, only somewhere to put the files.
    const auto autoStart = Parse({"--headless", "--download-folder", "in", "telnet://bbs"});
    ASSERT_TRUE(autoStart.Ok()) << autoStart.error;
    EXPECT_FALSE(autoStart.options.receive);
    EXPECT_FALSE(autoStart.options.resume);

    for (const std::vector<std::string>& wrong : std::vector<std::vector<std::string>>{
             {"--receive-zmodem", "in"},
             {"--telnet", "bbs", "--receive-zmodem", ""},
             {"--telnet", "bbs", "--download-folder", ""},
             {"--telnet", "bbs", "--send-zmodem", "a", "--send-ymodem", "b"},
             {"--telnet", "bbs", "--send-zmodem", "a", "--receive-zmodem", "in"},
             {"--telnet", "bbs", "--receive-zmodem", "in", "--receive-ymodem", "in"},
             {"--telnet", "bbs", "--resume=yes"},
         }) {
        EXPECT_FALSE(Parse(wrong).Ok()) << wrong.back();
    }
    for (const char* option : {"--receive-zmodem FOLDER", "--send-zmodem FILE",
                               "--download-folder FOLDER", "--resume"}) {
        EXPECT_NE(CommandLineUsage().find(option), std::string::npos) << option;
    }
}

TEST(CommandLine, TheScreenAsTextAndATextToTypeAreUnderstood) {
    const auto text = Parse(
        {"--telnet", "bbs", "--send-text", "msg.txt", "--dump-text", "--save-scrollback=all.txt"});
    ASSERT_TRUE(text.Ok()) << text.error;
    EXPECT_EQ(text.options.sendTextPath, "msg.txt");
    EXPECT_TRUE(text.options.dumpText);
    EXPECT_EQ(text.options.saveScrollbackPath, "all.txt");
    EXPECT_FALSE(text.options.dumpScreen);
    const auto pace = Parse({"--typing-pace", "5,0"});
    ASSERT_TRUE(pace.Ok()) << pace.error;
    EXPECT_EQ(pace.options.typingPace, (TypingPace{5, 0}));

    for (const std::vector<std::string>& wrong : std::vector<std::vector<std::string>>{
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
        EXPECT_FALSE(Parse(wrong).Ok()) << wrong.back();
    }
}

} // namespace

namespace {

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

namespace {

TEST(CommandLine, IPv6AddressesAreTakenInBrackets) {
    struct Case {
        std::string text;
        std::optional<TelnetTarget> target;
    };
    const std::vector<Case> cases = {
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
    for (const Case& c : cases) {
        EXPECT_EQ(ParseTelnetTarget(c.text), c.target) << c.text;
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
    // On the command line the problem comes with the forms that are taken.
    EXPECT_EQ(Parse({"--telnet", "[::1"}).error,
              "not a Telnet host: '[::1' (the '[' before an IPv6 address has no ']'; write HOST, "
              "HOST:PORT, [IPV6-ADDRESS]:PORT or telnet://HOST:PORT)");
    EXPECT_EQ(Parse({"telnet://[::1]x"}).error,
              "not a Telnet host: 'telnet://[::1]x' (only :PORT may follow the ']' of an IPv6 "
              "address; write HOST, HOST:PORT, [IPV6-ADDRESS]:PORT or telnet://HOST:PORT)");
    EXPECT_EQ(Parse({"--raw", "a:b:c"}).error,
              "not a raw TCP host: 'a:b:c' (several ':' but not an IPv6 address; an IPv6 address "
              "with a port is written in brackets; write HOST, HOST:PORT, [IPV6-ADDRESS]:PORT or "
              "raw://HOST:PORT)");
    EXPECT_EQ(Parse({"--raw=telnet://bbs"}).error,
              "not a raw TCP host: 'telnet://bbs' (only a raw:// address is taken here; write "
              "HOST, HOST:PORT, [IPV6-ADDRESS]:PORT or raw://HOST:PORT)");
    EXPECT_EQ(Parse({"--telnet", "host:99999"}).error,
              "not a Telnet host: 'host:99999' (the port must be a number from 1 to 65535; "
              "write HOST, HOST:PORT, [IPV6-ADDRESS]:PORT or telnet://HOST:PORT)");
}

TEST(CommandLine, RawTcpHostsAreTakenInEveryForm) {
    struct Case {
        std::string text;
        std::optional<TelnetTarget> target;
    };
    const std::vector<Case> cases = {
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
    for (const Case& c : cases) {
        EXPECT_EQ(ParseRawTarget(c.text), c.target) << c.text;
    }
}

TEST(CommandLine, ARawOrIPv6ConnectionIsOpenedAtStart) {
    const std::vector<std::pair<std::vector<std::string>, TelnetTarget>> cases = {
        {{"raw://bbs:2323"}, TelnetTarget{"bbs", "2323", true}},
        {{"raw://[::1]:2323/"}, TelnetTarget{"::1", "2323", true}},
        {{"--raw", "bbs"}, TelnetTarget{"bbs", "23", true}},
        {{"--raw=[::1]:6400"}, TelnetTarget{"::1", "6400", true}},
        {{"--raw", "::1"}, TelnetTarget{"::1", "23", true}},
        {{"--telnet", "[::1]:23"}, TelnetTarget{"::1", "23", false}},
        {{"--telnet", "[::1]"}, TelnetTarget{"::1", "23", false}},
        {{"telnet://[::1]:2323/"}, TelnetTarget{"::1", "2323", false}},
        {{"--telnet=::1"}, TelnetTarget{"::1", "23", false}},
    };
    for (const auto& [arguments, target] : cases) {
        const auto result = Parse(arguments);
        ASSERT_TRUE(result.Ok()) << arguments.front() << ": " << result.error;
        EXPECT_EQ(result.options.telnet, target) << arguments.front();
        EXPECT_FALSE(result.options.moviePath) << arguments.front();
    }
    // After "--" a name that looks like an address is a movie file.
    const auto file = Parse({"--", "raw://x"});
    ASSERT_TRUE(file.Ok());
    EXPECT_EQ(file.options.moviePath, "raw://x");
    EXPECT_FALSE(file.options.telnet);
    EXPECT_EQ(Parse({"--raw"}).error, "option --raw needs a value");
}

TEST(CommandLine, RawTcpIsAConnectionLikeTelnet) {
    // Only one of movie, Telnet, raw TCP and serial line.
    const std::vector<std::pair<std::vector<std::string>, std::string>> twice = {
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
    };
    for (const auto& [arguments, second] : twice) {
        EXPECT_EQ(Parse(arguments).error,
                  "only one movie or connection can be opened at start, not also '" + second + "'")
            << arguments.front() << " " << arguments[2 % arguments.size()];
    }
    // Downloads and uploads run over raw TCP as over Telnet.
    const auto receive = Parse({"--raw", "bbs", "--receive-xmodem", "x.bin"});
    ASSERT_TRUE(receive.Ok()) << receive.error;
    EXPECT_EQ(receive.options.receive, (ReceiveRequest{false, "x.bin"}));
    const auto send = Parse({"raw://[::1]:2323", "--send-ymodem", "a", "--send-ymodem", "b"});
    ASSERT_TRUE(send.Ok()) << send.error;
    EXPECT_EQ(send.options.send, (SendRequest{TSendProtocol::YModem, {"a", "b"}}));
    EXPECT_TRUE(send.options.telnet->raw);
    // Without any connection the messages name all three kinds.
    EXPECT_EQ(Parse({"--receive-ymodem", "in"}).error,
              "a download needs a connection: --telnet, --raw or --serial");
    EXPECT_EQ(Parse({"--send-xmodem", "x.bin"}).error,
              "an upload needs a connection: --telnet, --raw or --serial");
    EXPECT_EQ(Parse({"movie.ata", "--send-xmodem", "x.bin"}).error,
              "an upload needs a connection: --telnet, --raw or --serial");
}

TEST(CommandLine, UsageExplainsRawTcpAndIPv6Hosts) {
    const std::string usage = CommandLineUsage();
    EXPECT_EQ(usage.rfind("Usage: telvora [options] [MOVIE-FILE | telnet://[USER@]HOST[:PORT] | "
                          "raw://HOST[:PORT]]\n",
                          0),
              0u);
    EXPECT_NE(usage.find("  --raw HOST[:PORT]      connect to this host by raw TCP at start: no "
                         "Telnet,\n                         every byte as it is (port 23 unless "
                         "given)\n"),
              std::string::npos);
    EXPECT_NE(usage.find("An IPv6 address without brackets (::1)"), std::string::npos);
}

} // namespace
