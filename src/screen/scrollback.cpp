#include "screen/scrollback.h"

namespace telvora {

bool Scrollback::Allocate() {
    if (m_limit == 0) {
        return false;
    }
    // Left unset: a slot is written before it is ever read, and zeroing
    // 800 KB up front would cost the first scroll a noticeable pause.
    m_codes = std::make_unique_for_overwrite<std::uint8_t[]>(m_limit * kScrollbackColumns);
    m_columns = std::make_unique_for_overwrite<std::uint8_t[]>(m_limit);
    return true;
}

std::span<const std::uint8_t> Scrollback::Row(std::size_t index) const {
    const std::size_t oldest = m_count < m_limit ? 0 : m_next;
    std::size_t slot = oldest + index;
    if (slot >= m_limit) {
        slot -= m_limit;
    }
    return {&m_codes[slot * kScrollbackColumns], m_columns[slot]};
}

void Scrollback::Clear() {
    m_codes.reset();
    m_columns.reset();
    m_count = 0;
    m_next = 0;
}

std::size_t Scrollback::MemoryBytes() const {
    return m_codes ? m_limit * (kScrollbackColumns + 1) : 0;
}

} // namespace telvora
