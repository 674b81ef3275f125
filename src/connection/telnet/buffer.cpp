#include "connection/telnet/buffer.h"

#include <cstring>

TBuffer::TBuffer(int size) : m_buf(static_cast<std::size_t>(size > 0 ? size : kDefaultSize)) {}

int TBuffer::Write(const std::uint8_t* data, int count) {
    const int room = BufSize() - m_wrCount;
    const int n = count < room ? count : room;
    if (n <= 0) {
        return 0;
    }
    std::memcpy(m_buf.data() + m_wrCount, data, static_cast<std::size_t>(n));
    m_wrCount += n;
    return n;
}

std::pair<const std::uint8_t*, int> TBuffer::Peek() const {
    const int unsent = m_wrCount - m_rdCount;
    if (unsent <= 0) {
        return {nullptr, 0};
    }
    return {m_buf.data() + m_rdCount, unsent};
}

void TBuffer::Remove(int count) {
    if (count <= 0) {
        return;
    }
    const int unsent = m_wrCount - m_rdCount;
    m_rdCount += count < unsent ? count : unsent;
    if (m_rdCount >= m_wrCount) {
        m_rdCount = 0;
        m_wrCount = 0;
    }
}

void TBuffer::SetBufSize(int size) {
    const int newSize = size > 0 ? size : kDefaultSize;
    if (newSize < m_wrCount) {
        return;
    }
    m_buf.resize(static_cast<std::size_t>(newSize));
}
