#pragma once

#include <cstdint>
#include <vector>

namespace telvora {

// The scrollback and the screen as an ATASCII movie that replays them: a
// clear, then row after row, each without its trailing blanks and ended by
// End Of Line unless it filled the width (the cursor has wrapped then). The
// last row has no End Of Line, so the screen does not scroll once more. A
// control code shown as a glyph goes after an Escape, as the Atari's own
// Escape shows it ("Escape Shows Control Characters").
std::vector<std::uint8_t> RowsToMovie(const std::vector<std::vector<std::uint8_t>>& rows,
                                      int columns);

} // namespace telvora
