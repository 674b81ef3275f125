// The Hayes side of a modem line without a port: the user's line settings in
// their written forms, the modem's answers, the dialer's calls and redials,
// and command mode's ASCII both ways.

#include <gtest/gtest.h>

#include "connection/serial/command_mode.h"
#include "connection/serial/hayes_dialer.h"
#include "connection/serial/modem_response.h"
#include "connection/serial/serial_settings.h"

#include <chrono>
#include <string>
#include <vector>

using namespace telvora;
using namespace std::chrono_literals;
using State = THayesDialer::TState;

namespace {

TEST(SerialSettings, WrittenFormsReadBackAndMistakesAreRefused) {
    EXPECT_EQ(TSerialSettings{}.StoredText(), "19200 8N1 none");
    for (const char* text : {"300 7E1 rtscts", "230400 8O2 xonxoff", "9600 8N1 none"}) {
        const auto settings = ParseStoredSerialSettings(text);
        ASSERT_TRUE(settings) << text;
        EXPECT_EQ(settings->StoredText(), text);
    }
    EXPECT_EQ(ParseStoredSerialSettings("2400 7o2 XONXOFF")->StoredText(), "2400 7O2 xonxoff");
    // What a user types: the rest stays at the defaults.
    EXPECT_EQ(ParseStoredSerialSettings(" 9600 ")->StoredText(), "9600 8N1 none");
    EXPECT_EQ(ParseStoredSerialSettings("9600 7E1")->StoredText(), "9600 7E1 none");
    for (const char* bad :
         {"", " ", "8N1", "9600 rtscts", "14400 8N1 none", "9600 6N1 none", "9600 8M1 none",
          "9600 8N3 none", "9600 8N1 dtr", "9600 8N1 none x", "-9600 8N1 none", "9600x 8N1 none"}) {
        EXPECT_FALSE(ParseStoredSerialSettings(bad)) << bad;
    }
    TSerialSettings settings;
    EXPECT_FALSE(ParseSerialFormat("8N", settings));
    EXPECT_EQ(settings, TSerialSettings{}); // nothing half-set
}

TEST(SerialSettings, ThePortComponentGetsWhatWasChosen) {
    const TLineSettings line = ParseStoredSerialSettings("57600 7E2 rtscts")->LineSettings();
    EXPECT_EQ(line.BaudRate, TBaudrate::br57600);
    EXPECT_EQ(line.Databits, TDatabits::da7);
    EXPECT_EQ(line.Parity, TParity::paEven);
    EXPECT_EQ(line.Stopbits, TStopbits::sb20);
    EXPECT_EQ(line.FlowControl, TFlowControl::fcCTS);
    EXPECT_TRUE(line.ExclusiveFlowControl);
    for (const int speed : TSerialSettings::kSpeeds) {
        TSerialSettings s;
        s.Speed = speed;
        EXPECT_EQ(BaudRateValue(s.LineSettings().BaudRate), speed);
    }
}

TEST(ModemResponse, AnswersInWordsAndNumbers) {
    const std::vector<std::pair<std::string, TModemResult>> cases = {
        {"OK", TModemResult::Ok},
        {" ok ", TModemResult::Ok},
        {"CONNECT", TModemResult::Connect},
        {"CONNECT 9600", TModemResult::Connect},
        {"CONNECT 115200/ARQ", TModemResult::Connect},
        {"BUSY", TModemResult::Busy},
        {"NO CARRIER", TModemResult::NoCarrier},
        {"NO ANSWER", TModemResult::NoAnswer},
        {"NO DIALTONE", TModemResult::NoDialtone},
        {"ERROR", TModemResult::Error},
        {"RING", TModemResult::Ring},
        {"0", TModemResult::Ok},
        {"1", TModemResult::Connect},
        {"3", TModemResult::NoCarrier},
        {"7", TModemResult::Busy},
        {"9", TModemResult::Other},
        {"ATDT5551234", TModemResult::Other},
        {"CONNECTED", TModemResult::Other},
        {"NO CARRIERS", TModemResult::Other},
    };
    for (const auto& [line, result] : cases) {
        EXPECT_EQ(ClassifyModemLine(line), result) << line;
    }
}

TEST(ModemResponse, LinesEndAtCrOrLfWhereverTheBytesAreSplit) {
    const std::string stream = "ATZ\r\r\nOK\r\n\r\nCONNECT 2400\n";
    std::vector<std::string> lines;
    TModemResponseReader reader;
    for (const char c : stream + std::string(200, 'x') + "\r") {
        if (const auto response = reader.Feed(static_cast<std::uint8_t>(c))) {
            lines.push_back(response->Text);
        }
    }
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "ATZ");
    EXPECT_EQ(lines[1], "OK");
    EXPECT_EQ(lines[2], "CONNECT 2400");
    EXPECT_EQ(lines[3].size(), TModemResponseReader::kMaxLine);
}

class Dialer : public ::testing::Test {
protected:
    THayesDialer Make(int redials, std::string init = "ATZ") {
        TModemSettings settings;
        settings.InitString = std::move(init);
        settings.Number = "5551234";
        settings.Redials = redials;
        return THayesDialer(settings);
    }
    static void Hear(THayesDialer& dialer, const std::string& line, std::chrono::milliseconds at) {
        dialer.Heard({ClassifyModemLine(line), line}, at);
    }
};

TEST_F(Dialer, InitThenDialThenOnline) {
    THayesDialer dialer = Make(0);
    dialer.Start(0ms);
    EXPECT_EQ(dialer.TakeOutput(), "ATZ\r");
    Hear(dialer, "ATZ", 10ms); // the modem's echo
    EXPECT_EQ(dialer.State(), State::Initializing);
    Hear(dialer, "OK", 20ms);
    EXPECT_EQ(dialer.TakeOutput(), "ATDT5551234\r");
    EXPECT_EQ(dialer.StatusText(), "Dialing 5551234");
    Hear(dialer, "RING", 30ms);
    Hear(dialer, "CONNECT 9600", 40ms);
    EXPECT_EQ(dialer.State(), State::Online);
    EXPECT_EQ(dialer.ConnectText(), "CONNECT 9600");
    EXPECT_EQ(dialer.TakeOutput(), "");
}

TEST_F(Dialer, EveryFailedAnswerIsRedialledAfterThePauseUntilTheLastTry) {
    for (const char* answer : {"BUSY", "NO CARRIER", "NO ANSWER", "NO DIALTONE", "ERROR"}) {
        THayesDialer dialer = Make(1, "");
        dialer.Start(0ms);
        EXPECT_EQ(dialer.TakeOutput(), "ATDT5551234\r") << "no init string: straight to dialing";
        Hear(dialer, answer, 100ms);
        EXPECT_EQ(dialer.State(), State::Pausing) << answer;
        dialer.Tick(100ms + TModemSettings{}.RedialPause - 1ms);
        EXPECT_EQ(dialer.TakeOutput(), "");
        dialer.Tick(100ms + TModemSettings{}.RedialPause);
        EXPECT_EQ(dialer.TakeOutput(), "ATDT5551234\r");
        EXPECT_EQ(dialer.StatusText(), "Dialing 5551234 (try 2 of 2)");
        Hear(dialer, answer, 10s);
        EXPECT_EQ(dialer.State(), State::Failed);
        EXPECT_EQ(dialer.FailureText(), std::string("The call could not be made: ") + answer);
        EXPECT_EQ(dialer.StatusText(), answer);
    }
}

TEST_F(Dialer, TimeOutsEndTheTry) {
    THayesDialer silent = Make(0);
    silent.Start(0ms);
    silent.Tick(TModemSettings{}.InitTimeout);
    EXPECT_EQ(silent.State(), State::Failed);
    EXPECT_EQ(silent.FailureText(), "The modem did not answer the init string ATZ.");

    THayesDialer unanswered = Make(0, "");
    unanswered.Start(0ms);
    unanswered.TakeOutput();
    unanswered.Tick(TModemSettings{}.AnswerTimeout);
    EXPECT_EQ(unanswered.TakeOutput(), "\r") << "a key ends the modem's dialing";
    EXPECT_EQ(unanswered.FailureText(), "The call could not be made: NO ANSWER");

    THayesDialer refused = Make(3);
    refused.Start(0ms);
    Hear(refused, "ERROR", 1ms);
    EXPECT_EQ(refused.FailureText(), "The modem refused the init string ATZ: ERROR");
}

TEST(CommandMode, KeysGoAsAsciiAndAnswersShowAsLines) {
    EXPECT_EQ(CommandModeKey(155), 13);
    EXPECT_EQ(CommandModeKey(126), 8);
    EXPECT_EQ(CommandModeKey('A'), 'A');
    const std::string from = "AT\b\r\r\nOK\r\nX\nY\rZ";
    // Split anywhere, the same screen.
    for (std::size_t split = 0; split <= from.size(); ++split) {
        TCommandModeText text;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(from.data());
        std::vector<std::uint8_t> shown = text.Translate(bytes, split);
        const std::vector<std::uint8_t> rest = text.Translate(bytes + split, from.size() - split);
        shown.insert(shown.end(), rest.begin(), rest.end());
        EXPECT_EQ(std::string(shown.begin(), shown.end()), "AT\x7e\x9b\x9bOK\x9bX\x9bY\x9bZ")
            << split;
    }
}

} // namespace
