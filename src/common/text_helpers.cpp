#include "common/text_helpers.h"

#include <algorithm>
#include <charconv>

namespace telvora {

namespace {

constexpr char kBlank = ' ';

char LowerAsciiChar(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

std::string TrimBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(kBlank);
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(kBlank);
    return std::string(text.substr(first, last - first + 1));
}

std::string LowerAscii(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        c = LowerAsciiChar(c);
    }
    return result;
}

// Searched in place: the host directory tests every value name of the store.
bool ContainsNoCase(std::string_view text, std::string_view part) {
    const auto found =
        std::search(text.begin(), text.end(), part.begin(), part.end(),
                    [](char a, char b) { return LowerAsciiChar(a) == LowerAsciiChar(b); });
    return found != text.end() || part.empty();
}

std::optional<int> ParseWholeNumber(std::string_view text, int most) {
    // from_chars takes a minus sign, and so "-0".
    if (text.empty() || text.front() == '-') {
        return std::nullopt;
    }
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [last, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || last != end || value < 0 || value > most) {
        return std::nullopt;
    }
    return value;
}

} // namespace telvora
