#include "connection/big_fifo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <thread>
#include <vector>

namespace {

std::vector<std::uint8_t> Pattern(int count, int seed = 0) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>((i * 7 + seed) & 0xFF);
    }
    return bytes;
}

void ExpectFifoError(const std::function<void()>& step, const char* message) {
    try {
        step();
        FAIL() << "expected EFIFO \"" << message << "\"";
    } catch (const EFIFO& e) {
        EXPECT_STREQ(e.what(), message);
    }
}

TEST(BigFifo, FillsToCapacityAndRefusesOneMoreWithoutChange) {
    TBigFIFO fifo;
    const auto first = Pattern(30000, 1);
    const auto rest = Pattern(TBigFIFO::kCapacity - 30000, 2);
    fifo.Put(first.data(), static_cast<int>(first.size()));
    fifo.Put(rest.data(), static_cast<int>(rest.size()));
    EXPECT_EQ(fifo.Count(), 50000);

    const std::uint8_t extra = 0xAA;
    ExpectFifoError([&] { fifo.Put(&extra, 1); }, "FIFO is too full!");
    EXPECT_EQ(fifo.Count(), 50000);

    // The refused byte must not have overwritten the oldest one.
    std::vector<std::uint8_t> out(TBigFIFO::kCapacity);
    fifo.Get(out.data(), TBigFIFO::kCapacity);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), out.begin()));
    EXPECT_TRUE(std::equal(rest.begin(), rest.end(), out.begin() + 30000));
    EXPECT_EQ(fifo.Count(), 0);
}

TEST(BigFifo, OverFullPutIsAllOrNothing) {
    TBigFIFO fifo;
    const auto bytes = Pattern(40000);
    fifo.Put(bytes.data(), 40000);
    const auto tooMany = Pattern(10001, 5);
    ExpectFifoError([&] { fifo.Put(tooMany.data(), 10001); }, "FIFO is too full!");
    EXPECT_EQ(fifo.Count(), 40000);
    ExpectFifoError([&] { fifo.Put(tooMany.data(), 60000); }, "FIFO is too full!");

    std::vector<std::uint8_t> out(40000);
    fifo.Get(out.data(), 40000);
    EXPECT_EQ(out, bytes);
}

TEST(BigFifo, ExactGetEmptiesAndOverGetRemovesNothing) {
    TBigFIFO fifo;
    const auto bytes = Pattern(100);
    fifo.Put(bytes.data(), 100);

    std::vector<std::uint8_t> out(101, 0x5A);
    ExpectFifoError([&] { fifo.Get(out.data(), 101); }, "Not enough data in FIFO!");
    EXPECT_EQ(fifo.Count(), 100);
    EXPECT_EQ(out, std::vector<std::uint8_t>(101, 0x5A));

    fifo.Get(out.data(), 100);
    EXPECT_EQ(fifo.Count(), 0);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), out.begin()));
    ExpectFifoError([&] { fifo.Get(out.data(), 1); }, "Not enough data in FIFO!");
}

TEST(BigFifo, BytesComeOutInOrderAcrossTheEndOfTheStore) {
    TBigFIFO fifo;
    std::vector<std::uint8_t> out(TBigFIFO::kCapacity);
    // Move both positions to 49999, the last cell of the store.
    const auto filler = Pattern(49999);
    fifo.Put(filler.data(), 49999);
    fifo.Get(out.data(), 49999);

    // Several passes over the end with odd sizes, checking order each time.
    for (int pass = 0; pass < 7; ++pass) {
        const auto bytes = Pattern(1 + pass * 7919, pass);
        fifo.Put(bytes.data(), static_cast<int>(bytes.size()));
        ASSERT_EQ(fifo.Count(), static_cast<int>(bytes.size()));
        fifo.Get(out.data(), static_cast<int>(bytes.size()));
        ASSERT_TRUE(std::equal(bytes.begin(), bytes.end(), out.begin())) << "pass " << pass;
    }

    // A full store whose contents start at the last cell.
    fifo.Clear();
    fifo.Put(filler.data(), 49999);
    fifo.Get(out.data(), 49999);
    const auto whole = Pattern(TBigFIFO::kCapacity, 3);
    fifo.Put(whole.data(), TBigFIFO::kCapacity);
    fifo.Get(out.data(), TBigFIFO::kCapacity);
    EXPECT_EQ(out, whole);
}

TEST(BigFifo, ClearEmptiesAndStartsOver) {
    TBigFIFO fifo;
    const auto bytes = Pattern(12345);
    fifo.Put(bytes.data(), 12345);
    std::vector<std::uint8_t> out(TBigFIFO::kCapacity);
    fifo.Get(out.data(), 345);
    fifo.Clear();
    EXPECT_EQ(fifo.Count(), 0);
    ExpectFifoError([&] { fifo.Get(out.data(), 1); }, "Not enough data in FIFO!");

    // The whole capacity is free again and nothing old comes back.
    const auto whole = Pattern(TBigFIFO::kCapacity, 9);
    fifo.Put(whole.data(), TBigFIFO::kCapacity);
    fifo.Get(out.data(), TBigFIFO::kCapacity);
    EXPECT_EQ(out, whole);
}

TEST(BigFifo, ZeroCountDoesNothing) {
    TBigFIFO fifo;
    std::uint8_t byte = 1;
    fifo.Put(&byte, 0);
    fifo.Get(&byte, 0);
    EXPECT_EQ(fifo.Count(), 0);
}

// One producer and one consumer at full speed: the consumer takes exactly the
// count it sees each time, as the connection threads do; every byte must come
// out once and in order.
TEST(BigFifoThreads, ProducerAndConsumerKeepEveryByteInOrder) {
    TBigFIFO fifo;
    constexpr long kTotal = 8'000'000;
    std::thread producer([&] {
        std::vector<std::uint8_t> chunk(2048);
        long sent = 0;
        int size = 1;
        while (sent < kTotal) {
            size = size % 2047 + 1;
            const int n = static_cast<int>(std::min<long>(size, kTotal - sent));
            for (int i = 0; i < n; ++i) {
                chunk[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>((sent + i) % 251);
            }
            while (TBigFIFO::kCapacity - fifo.Count() < n) {
                std::this_thread::yield();
            }
            fifo.Put(chunk.data(), n);
            sent += n;
        }
    });

    std::vector<std::uint8_t> local(TBigFIFO::kCapacity);
    long received = 0;
    long mismatches = 0;
    while (received < kTotal) {
        const int n = fifo.Count();
        if (n == 0) {
            std::this_thread::yield();
            continue;
        }
        fifo.Get(local.data(), n);
        for (int i = 0; i < n; ++i) {
            if (local[static_cast<std::size_t>(i)] !=
                static_cast<std::uint8_t>((received + i) % 251)) {
                ++mismatches;
            }
        }
        received += n;
    }
    producer.join();
    EXPECT_EQ(received, kTotal);
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(fifo.Count(), 0);
}

} // namespace
