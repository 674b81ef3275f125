#include "screen/row_text.h"

#include "screen/screen_model.h"

#include <algorithm>
#include <span>

namespace telvora {

namespace {

std::span<const std::uint8_t> WithoutTrailingBlanks(const std::vector<std::uint8_t>& row) {
    const auto last =
        std::find_if(row.rbegin(), row.rend(), [](std::uint8_t code) { return code != kBlank; });
    return {row.data(), static_cast<std::size_t>(row.rend() - last)};
}

} // namespace

std::string RowsAsText(const TRows& rows) {
    std::vector<std::span<const std::uint8_t>> spans(rows.begin(), rows.end());
    return RowsToUtf8(spans);
}

std::vector<std::uint8_t> RowsAsCodes(const TRows& rows) {
    std::vector<std::uint8_t> codes;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i > 0) {
            codes.push_back(atascii::kEndOfLine);
        }
        const auto used = WithoutTrailingBlanks(rows[i]);
        codes.insert(codes.end(), used.begin(), used.end());
    }
    return codes;
}

TextAsAtascii FileAsAtascii(std::string_view bytes) {
    const bool atascii = bytes.find(static_cast<char>(atascii::kEndOfLine)) != bytes.npos &&
                         bytes.find('\n') == bytes.npos;
    if (atascii) {
        return {std::vector<std::uint8_t>(bytes.begin(), bytes.end()), 0};
    }
    return TextToAtascii(bytes);
}

} // namespace telvora
