#include "connection/serial/serial_settings.h"

#include "common/text_helpers.h"

#include <algorithm>
#include <sstream>

namespace telvora {

namespace {

char ParityLetter(TParity parity) {
    switch (parity) {
    case TParity::paEven:
        return 'E';
    case TParity::paOdd:
        return 'O';
    case TParity::paNone:
    case TParity::paMark:
    case TParity::paSpace:
        break;
    }
    return 'N';
}

std::optional<TParity> ParityOfLetter(char letter) {
    switch (letter) {
    case 'N':
    case 'n':
        return TParity::paNone;
    case 'E':
    case 'e':
        return TParity::paEven;
    case 'O':
    case 'o':
        return TParity::paOdd;
    default:
        return std::nullopt;
    }
}

// One of kSpeeds as the port component names it; every one of them has a name.
TBaudrate BaudrateOf(int speed) {
    for (int i = 0; i <= static_cast<int>(TBaudrate::br230400); ++i) {
        if (BaudRateValue(static_cast<TBaudrate>(i)) == speed) {
            return static_cast<TBaudrate>(i);
        }
    }
    return TBaudrate::br19200;
}

TFlowControl FlowControlOf(TSerialFlow flow) {
    switch (flow) {
    case TSerialFlow::RtsCts:
        return TFlowControl::fcCTS;
    case TSerialFlow::XonXoff:
        return TFlowControl::fcSoftware;
    case TSerialFlow::None:
        break;
    }
    return TFlowControl::fcNone;
}

} // namespace

std::string TSerialSettings::FormatText() const {
    return std::to_string(DataBits) + ParityLetter(Parity) + std::to_string(StopBits);
}

std::string TSerialSettings::Text() const {
    return std::to_string(Speed) + " " + FormatText();
}

std::string TSerialSettings::StoredText() const {
    return Text() + " " + std::string(SerialFlowName(Flow));
}

TLineSettings TSerialSettings::LineSettings() const {
    TLineSettings line;
    line.BaudRate = BaudrateOf(Speed);
    line.Databits = DataBits == 7 ? TDatabits::da7 : TDatabits::da8;
    line.Parity = Parity;
    line.Stopbits = StopBits == 2 ? TStopbits::sb20 : TStopbits::sb10;
    line.FlowControl = FlowControlOf(Flow);
    line.ExclusiveFlowControl = true;
    return line;
}

std::optional<int> ParseSerialSpeed(std::string_view text) {
    const std::optional<int> speed = ParseWholeNumber(text);
    if (!speed || std::find(TSerialSettings::kSpeeds.begin(), TSerialSettings::kSpeeds.end(),
                            *speed) == TSerialSettings::kSpeeds.end()) {
        return std::nullopt;
    }
    return speed;
}

bool ParseSerialFormat(std::string_view text, TSerialSettings& settings) {
    if (text.size() != 3 || (text[0] != '7' && text[0] != '8') ||
        (text[2] != '1' && text[2] != '2')) {
        return false;
    }
    const std::optional<TParity> parity = ParityOfLetter(text[1]);
    if (!parity) {
        return false;
    }
    settings.DataBits = text[0] - '0';
    settings.Parity = *parity;
    settings.StopBits = text[2] - '0';
    return true;
}

std::optional<TSerialFlow> ParseSerialFlow(std::string_view text) {
    const std::string lower = LowerAscii(text);
    for (TSerialFlow flow : {TSerialFlow::None, TSerialFlow::RtsCts, TSerialFlow::XonXoff}) {
        if (lower == SerialFlowName(flow)) {
            return flow;
        }
    }
    return std::nullopt;
}

std::string_view SerialFlowName(TSerialFlow flow) {
    switch (flow) {
    case TSerialFlow::RtsCts:
        return "rtscts";
    case TSerialFlow::XonXoff:
        return "xonxoff";
    case TSerialFlow::None:
        break;
    }
    return "none";
}

std::optional<TSerialSettings> ParseStoredSerialSettings(std::string_view text) {
    // A speed alone, or a speed and a format, as a user types them into a
    // serial entry's port box, leave the rest at the defaults.
    std::istringstream parts{std::string(text)};
    std::string speed;
    std::string format = TSerialSettings{}.FormatText();
    std::string flow(SerialFlowName(TSerialFlow::None));
    std::string more;
    if (!(parts >> speed) || ((parts >> format) && (parts >> flow) && (parts >> more))) {
        return std::nullopt;
    }
    TSerialSettings settings;
    const std::optional<int> parsedSpeed = ParseSerialSpeed(speed);
    const std::optional<TSerialFlow> parsedFlow = ParseSerialFlow(flow);
    if (!parsedSpeed || !parsedFlow || !ParseSerialFormat(format, settings)) {
        return std::nullopt;
    }
    settings.Speed = *parsedSpeed;
    settings.Flow = *parsedFlow;
    return settings;
}

} // namespace telvora
