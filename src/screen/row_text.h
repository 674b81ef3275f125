#pragma once

#include "screen/atascii_text.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace telvora {

using TRows = std::vector<std::vector<std::uint8_t>>;

// Rows of cells (a selection, the scrollback) as UTF-8 text: a line a row,
// trailing blanks removed.
std::string RowsAsText(const TRows& rows);
// The same rows as the ATASCII codes a paste types: each row without its
// trailing blanks, End Of Line between rows. Inverse video stays.
std::vector<std::uint8_t> RowsAsCodes(const TRows& rows);
// A text file as the codes to type: a file that is already ATASCII (End Of
// Line codes and no LF) as it is; otherwise UTF-8 text mapped to ATASCII.
TextAsAtascii FileAsAtascii(std::string_view bytes);

} // namespace telvora
