#include "connection/serial/modem_response.h"

#include "common/text_helpers.h"

#include <array>
#include <utility>

namespace telvora {

namespace {

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

} // namespace

TModemResult ClassifyModemLine(std::string_view line) {
    const std::string word = LowerAscii(Trimmed(line));
    static constexpr std::array<std::pair<std::string_view, TModemResult>, 8> kWords{{
        {"ok", TModemResult::Ok},
        {"connect", TModemResult::Connect},
        {"ring", TModemResult::Ring},
        {"no carrier", TModemResult::NoCarrier},
        {"error", TModemResult::Error},
        {"no dialtone", TModemResult::NoDialtone},
        {"busy", TModemResult::Busy},
        {"no answer", TModemResult::NoAnswer},
    }};
    // The numeric forms are the words' places in this list, 5 being an old
    // CONNECT 1200 that counts as a connect as well.
    static constexpr std::array<TModemResult, 9> kNumbers{
        TModemResult::Ok,         TModemResult::Connect, TModemResult::Ring,
        TModemResult::NoCarrier,  TModemResult::Error,   TModemResult::Connect,
        TModemResult::NoDialtone, TModemResult::Busy,    TModemResult::NoAnswer};
    if (word.size() == 1 && word[0] >= '0' && word[0] <= '8') {
        return kNumbers[static_cast<std::size_t>(word[0] - '0')];
    }
    for (const auto& [text, result] : kWords) {
        if (word == text) {
            return result;
        }
    }
    // "CONNECT 9600", "CONNECT 115200/ARQ": a connect with its rate.
    if (word.rfind("connect ", 0) == 0 || word.rfind("connect/", 0) == 0) {
        return TModemResult::Connect;
    }
    return TModemResult::Other;
}

std::optional<TModemResponse> TModemResponseReader::Feed(std::uint8_t byte) {
    if (byte != '\r' && byte != '\n') {
        if (m_line.size() < kMaxLine) {
            m_line.push_back(static_cast<char>(byte));
        }
        return std::nullopt;
    }
    if (Trimmed(m_line).empty()) {
        m_line.clear();
        return std::nullopt;
    }
    TModemResponse response{ClassifyModemLine(m_line), std::move(m_line)};
    m_line.clear();
    return response;
}

} // namespace telvora
