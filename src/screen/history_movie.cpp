#include "screen/history_movie.h"

#include "screen/screen_model.h"

#include <algorithm>

namespace telvora {

namespace {

std::size_t UsedLength(const std::vector<std::uint8_t>& row) {
    const auto last =
        std::find_if(row.rbegin(), row.rend(), [](std::uint8_t code) { return code != kBlank; });
    return static_cast<std::size_t>(row.rend() - last);
}

} // namespace

std::vector<std::uint8_t> RowsToMovie(const std::vector<std::vector<std::uint8_t>>& rows,
                                      int columns) {
    std::vector<std::uint8_t> movie{atascii::kClearScreen};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::size_t used = UsedLength(rows[i]);
        for (std::size_t j = 0; j < used; ++j) {
            const std::uint8_t code = rows[i][j];
            if (!ShownAsGlyph(code)) {
                movie.push_back(atascii::kEscape);
            }
            movie.push_back(code);
        }
        const bool last = i + 1 == rows.size();
        if (!last && used < static_cast<std::size_t>(columns)) {
            movie.push_back(atascii::kEndOfLine);
        }
    }
    return movie;
}

} // namespace telvora
