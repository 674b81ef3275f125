// The receive FIFO and a send-queue chunk driven by random operations, each
// against a plain queue of bytes. Every answer must be the queue's, and the
// FIFO must refuse a put or get exactly when the queue says it cannot be done,
// changing nothing then.
//
// Input: the first two bytes give the chunk's size (0 or less: the default),
// then one operation per byte. The top bit picks the FIFO (0) or the chunk
// (1), the next bits the operation; sizes follow in one or two bytes.
#include "connection/big_fifo.h"
#include "connection/telnet/buffer.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "fifo/buffer: %s\n", what);
        std::abort();
    }
}

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    bool Empty() const { return m_pos >= m_size; }
    int Byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    int Word() {
        const int high = Byte();
        return high << 8 | Byte();
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

// Bytes that never repeat with a short period, so that a byte from the wrong
// place of the ring shows.
class Bytes {
public:
    std::vector<std::uint8_t> Next(int count) {
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::max(count, 0)));
        for (auto& b : bytes) {
            m_state = m_state * 1103515245u + 12345u;
            b = static_cast<std::uint8_t>(m_state >> 16);
        }
        return bytes;
    }

private:
    std::uint32_t m_state = 1;
};

std::vector<std::uint8_t> TakeFront(std::deque<std::uint8_t>& queue, std::size_t count) {
    std::vector<std::uint8_t> taken(queue.begin(),
                                    queue.begin() + static_cast<std::ptrdiff_t>(count));
    queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(count));
    return taken;
}

class FifoCheck {
public:
    void Put(int count) {
        const std::vector<std::uint8_t> bytes = m_bytes.Next(count);
        const bool fits = count <= TBigFIFO::kCapacity - static_cast<int>(m_queue.size());
        try {
            m_fifo.Put(bytes.data(), count);
        } catch (const EFIFO& error) {
            Check(count > 0 && !fits, "a put that fits was refused");
            Check(std::string(error.what()) == "FIFO is too full!", "put refusal text");
            return;
        }
        Check(count <= 0 || fits, "a put that does not fit was taken");
        if (count > 0) {
            m_queue.insert(m_queue.end(), bytes.begin(), bytes.end());
        }
    }

    void Get(int count) {
        std::vector<std::uint8_t> got(static_cast<std::size_t>(std::max(count, 0)) + 1, 0xA5);
        const bool enough = count <= static_cast<int>(m_queue.size());
        try {
            m_fifo.Get(got.data(), count);
        } catch (const EFIFO& error) {
            Check(count > 0 && !enough, "a get of stored bytes was refused");
            Check(std::string(error.what()) == "Not enough data in FIFO!", "get refusal text");
            Check(std::all_of(got.begin(), got.end(), [](std::uint8_t b) { return b == 0xA5; }),
                  "a refused get wrote bytes");
            return;
        }
        Check(count <= 0 || enough, "a get of more than is stored succeeded");
        Check(got.back() == 0xA5, "a get wrote past its count");
        if (count > 0) {
            got.pop_back();
            Check(got == TakeFront(m_queue, static_cast<std::size_t>(count)), "bytes got");
        }
    }

    void Clear() {
        m_fifo.Clear();
        m_queue.clear();
    }

    void CheckCount() const {
        Check(m_fifo.Count() == static_cast<int>(m_queue.size()), "FIFO count");
    }

    int Count() const { return static_cast<int>(m_queue.size()); }

private:
    TBigFIFO m_fifo;
    std::deque<std::uint8_t> m_queue;
    Bytes m_bytes;
};

class BufferCheck {
public:
    explicit BufferCheck(int size)
        : m_buffer(size), m_size(size > 0 ? size : TBuffer::kDefaultSize) {}

    void Write(int count) {
        const std::vector<std::uint8_t> bytes = m_bytes.Next(count);
        // Room is only made again once everything written has been taken.
        const int expected = std::max(0, std::min(count, m_size - m_written));
        Check(m_buffer.Write(bytes.data(), count) == expected, "bytes written");
        m_queue.insert(m_queue.end(), bytes.begin(), bytes.begin() + expected);
        m_written += expected;
    }

    void Remove(int count) {
        m_buffer.Remove(count);
        if (count > 0) {
            TakeFront(m_queue,
                      std::min<std::size_t>(static_cast<std::size_t>(count), m_queue.size()));
            if (m_queue.empty()) {
                m_written = 0;
            }
        }
    }

    void SetBufSize(int size) {
        m_buffer.SetBufSize(size);
        const int wanted = size > 0 ? size : TBuffer::kDefaultSize;
        if (wanted >= m_written) {
            m_size = wanted;
        }
    }

    void CheckState() const {
        const auto [bytes, length] = m_buffer.Peek();
        Check(length == static_cast<int>(m_queue.size()), "peek length");
        Check((bytes == nullptr) == (length == 0), "peek pointer");
        Check(length == 0 || std::equal(m_queue.begin(), m_queue.end(), bytes), "peek bytes");
        Check(m_buffer.BufSize() == m_size, "buffer size");
        Check(m_buffer.WrCount() == m_written, "write count");
        Check(m_buffer.RdCount() == m_written - static_cast<int>(m_queue.size()), "read count");
    }

private:
    TBuffer m_buffer;
    std::deque<std::uint8_t> m_queue;
    int m_size;
    int m_written = 0;
    Bytes m_bytes;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input input(data, size);
    // -1024..64511, so that sizes of 0 and below are tried too.
    FifoCheck fifo;
    BufferCheck buffer(input.Word() - 1024);
    buffer.CheckState();
    while (!input.Empty()) {
        const int op = input.Byte();
        if ((op & 0x80) == 0) {
            switch (op & 0x07) {
            case 0:
                fifo.Put(input.Byte());
                break;
            case 1:
                // Up to well past the capacity.
                fifo.Put(input.Word());
                break;
            case 2:
                fifo.Get(input.Byte());
                break;
            case 3:
                fifo.Get(input.Word());
                break;
            case 4:
                // What a consumer does: read the count, then get that many.
                fifo.Get(fifo.Count());
                break;
            case 5:
                fifo.Clear();
                break;
            case 6:
                // Counts of 0 and below do nothing.
                fifo.Put(-input.Byte());
                fifo.Get(-input.Byte());
                break;
            case 7:
                // A put that fills the FIFO exactly, then one byte too many.
                fifo.Put(TBigFIFO::kCapacity - fifo.Count());
                fifo.Put(1);
                break;
            }
            fifo.CheckCount();
        } else {
            switch (op & 0x07) {
            case 0:
            case 1:
                buffer.Write(input.Byte());
                break;
            case 2:
                buffer.Write(input.Word());
                break;
            case 3:
            case 4:
                buffer.Remove(input.Byte());
                break;
            case 5:
                buffer.Remove(input.Word());
                break;
            case 6:
                buffer.SetBufSize(input.Word() - 1024);
                break;
            case 7:
                buffer.Write(-input.Byte());
                buffer.Remove(-input.Byte());
                break;
            }
            buffer.CheckState();
        }
    }
    return 0;
}
