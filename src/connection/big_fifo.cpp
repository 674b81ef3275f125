#include "connection/big_fifo.h"

#include <algorithm>
#include <cstring>

TBigFIFO::TBigFIFO() : m_store(std::make_unique<std::uint8_t[]>(kCapacity)) {}

void TBigFIFO::Put(const std::uint8_t* data, int count) {
    if (count <= 0) {
        return;
    }
    // The free space can only grow while we look at it (the consumer removes bytes).
    if (count > kCapacity - Count()) {
        throw EFIFO("FIFO is too full!");
    }
    const int first = std::min(count, kCapacity - m_writePos);
    std::memcpy(m_store.get() + m_writePos, data, static_cast<std::size_t>(first));
    std::memcpy(m_store.get(), data + first, static_cast<std::size_t>(count - first));
    m_writePos = (m_writePos + count) % kCapacity;
    // Release: the bytes above become visible to the consumer with the new count.
    m_count.fetch_add(count, std::memory_order_acq_rel);
}

void TBigFIFO::Get(std::uint8_t* data, int count) {
    if (count <= 0) {
        return;
    }
    if (count > Count()) {
        throw EFIFO("Not enough data in FIFO!");
    }
    const int first = std::min(count, kCapacity - m_readPos);
    std::memcpy(data, m_store.get() + m_readPos, static_cast<std::size_t>(first));
    std::memcpy(data + first, m_store.get(), static_cast<std::size_t>(count - first));
    m_readPos = (m_readPos + count) % kCapacity;
    // Release: the producer may reuse these cells only after we have copied them.
    m_count.fetch_sub(count, std::memory_order_acq_rel);
}

void TBigFIFO::Clear() {
    m_writePos = 0;
    m_readPos = 0;
    m_count.store(0, std::memory_order_release);
}
