#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

namespace telvora {

// Rows kept by default: a few hundred screens of a busy board.
inline constexpr std::size_t kScrollbackRows = 10000;

// The widest row the screen shows (kStoreColumns in screen_model.h).
inline constexpr std::size_t kScrollbackColumns = 80;

// Rows that have left the screen, oldest first, up to a limit; when full, a
// new row drops the oldest. Each row keeps the codes of the columns the
// screen showed when it left (inverse video included) in a fixed 80-byte
// slot, plus one byte for how many of them were shown: 10,000 rows take
// 810,000 bytes. The slots are allocated at the first row, so a screen that
// never scrolls costs nothing.
class Scrollback {
public:
    explicit Scrollback(std::size_t limit = kScrollbackRows) : m_limit(limit) {}

    // Keeps the first `columns` of a whole store row (at most all of it) as
    // the newest row. Inline and a fixed-size copy: the screen calls this on
    // every scroll, and a scroll is on the path of every received byte.
    void Push(std::span<const std::uint8_t, kScrollbackColumns> cells, std::size_t columns) {
        ++m_pushed;
        if (!m_codes && !Allocate()) {
            return;
        }
        std::memcpy(&m_codes[m_next * kScrollbackColumns], cells.data(), kScrollbackColumns);
        m_columns[m_next] = static_cast<std::uint8_t>(std::min(columns, kScrollbackColumns));
        m_next = m_next + 1 == m_limit ? 0 : m_next + 1;
        if (m_count < m_limit) {
            ++m_count;
        }
    }

    std::size_t Count() const { return m_count; }
    // Every row ever pushed, also those dropped or cleared since: the rows
    // the screen has scrolled away, which numbers the lines it has shown.
    std::uint64_t Pushed() const { return m_pushed; }
    std::size_t Limit() const { return m_limit; }
    // Index 0 is the oldest row, Count() - 1 the one that left the screen
    // last; index must be below Count(). The span stays valid until the
    // next Push or Clear.
    std::span<const std::uint8_t> Row(std::size_t index) const;

    // Forgets every row and gives their memory back.
    void Clear();

    // The memory the rows take: all slots once the first row is in.
    std::size_t MemoryBytes() const;

private:
    // False for a limit of 0, which keeps nothing.
    bool Allocate();

    std::unique_ptr<std::uint8_t[]> m_codes;   // m_limit slots of kScrollbackColumns
    std::unique_ptr<std::uint8_t[]> m_columns; // the shown columns of each slot
    std::size_t m_limit;
    std::size_t m_count = 0;
    std::size_t m_next = 0; // the slot the next row goes into; once full, the oldest
    std::uint64_t m_pushed = 0;
};

} // namespace telvora
