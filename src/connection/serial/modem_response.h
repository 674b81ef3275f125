#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace telvora {

// What a Hayes modem says, in words (V1) or as a number (V0).
enum class TModemResult {
    Other, // an echoed command, a blank line, anything else
    Ok,
    Connect,
    Ring,
    NoCarrier,
    Error,
    NoDialtone,
    Busy,
    NoAnswer,
};

struct TModemResponse {
    TModemResult Result = TModemResult::Other;
    // The line as the modem sent it, without its line end ("CONNECT 9600").
    std::string Text;
};

// The result a line stands for: "CONNECT" with or without a rate or
// protocol after it, the other words alone (any case, blanks around them
// allowed), or their numbers 0 to 8.
TModemResult ClassifyModemLine(std::string_view line);

// The modem's answers as lines, from the bytes it sends: CR or LF ends a
// line (CR LF is one end), and a line too long to be an answer is cut short
// so that no stream can make it grow without end.
class TModemResponseReader {
public:
    static constexpr std::size_t kMaxLine = 80;

    // The answer a byte completes, if any; an empty line is no answer.
    std::optional<TModemResponse> Feed(std::uint8_t byte);
    void Reset() { m_line.clear(); }

private:
    std::string m_line;
};

} // namespace telvora
