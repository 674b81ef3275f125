#pragma once

#include <cstdint>
#include <utility>
#include <vector>

// One chunk of a socket's send queue: bytes are written at the end and taken
// from the front; once everything written has been taken, it can be filled
// again.
class TBuffer {
public:
    // A size of 0 or less gives one Ethernet frame.
    static constexpr int kDefaultSize = 1514;

    explicit TBuffer(int size);
    // Copies as many bytes as fit; 0 when full.
    int Write(const std::uint8_t* data, int count);
    // The bytes written but not yet taken (length 0 for none).
    std::pair<const std::uint8_t*, int> Peek() const;
    void Remove(int count);
    // Never drops written bytes: a size below them is ignored.
    void SetBufSize(int size);

    int BufSize() const { return static_cast<int>(m_buf.size()); }
    int WrCount() const { return m_wrCount; }
    int RdCount() const { return m_rdCount; }

private:
    std::vector<std::uint8_t> m_buf;
    int m_wrCount = 0;
    int m_rdCount = 0;
};
