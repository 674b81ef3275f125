#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

// Raised by TBigFIFO when a put does not fit or a get asks for more than is stored.
class EFIFO : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Fixed-capacity ring of received bytes between one producer thread and one
// consumer thread. No lock: the producer alone moves the write position, the
// consumer alone moves the read position, and only the byte count is shared.
// A consumer that reads Count() and then gets that many bytes always succeeds,
// since a concurrent put can only raise the count.
class TBigFIFO {
public:
    // A put beyond this capacity is refused whole ("FIFO is too full!").
    static constexpr int kCapacity = 50000;

    TBigFIFO();
    TBigFIFO(const TBigFIFO&) = delete;
    TBigFIFO& operator=(const TBigFIFO&) = delete;

    // Appends count bytes, or none at all when they do not fit. Producer side only.
    void Put(const std::uint8_t* data, int count);
    // Removes the count oldest bytes into data, or none at all when fewer are
    // stored. Consumer side only.
    void Get(std::uint8_t* data, int count);
    int Count() const { return m_count.load(std::memory_order_acquire); }
    // Empties the FIFO. Only while neither side is in Put or Get.
    void Clear();

private:
    std::unique_ptr<std::uint8_t[]> m_store;
    std::atomic<int> m_count{0};
    int m_writePos = 0;
    int m_readPos = 0;
};
