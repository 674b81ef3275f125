#include "connection/telnet/buffer.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<std::uint8_t> Numbered(int count) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i * 13 + 1);
    }
    return bytes;
}

TEST(TBufferChunk, WritesWhatFitsAndHandsOutTheUnsentBytes) {
    TBuffer chunk(10);
    const auto bytes = Numbered(15);
    EXPECT_EQ(chunk.Peek().second, 0);
    EXPECT_EQ(chunk.Write(bytes.data(), 15), 10);
    EXPECT_EQ(chunk.Write(bytes.data(), 1), 0) << "a full chunk takes nothing";
    chunk.Remove(4);
    auto [data, length] = chunk.Peek();
    ASSERT_EQ(length, 6);
    EXPECT_EQ(std::vector<std::uint8_t>(data, data + length),
              std::vector<std::uint8_t>(bytes.begin() + 4, bytes.begin() + 10));
    EXPECT_EQ(chunk.RdCount(), 4);
    chunk.Remove(-3);
    EXPECT_EQ(chunk.Peek().second, 6) << "a negative count removes nothing";
}

TEST(TBufferChunk, AnEmptiedChunkIsFilledAgainFromTheStart) {
    TBuffer chunk(10);
    const auto bytes = Numbered(10);
    chunk.Write(bytes.data(), 8);
    chunk.Remove(100); // more than is there: takes the 8
    EXPECT_EQ(chunk.Peek().second, 0);
    EXPECT_EQ(chunk.WrCount(), 0);
    EXPECT_EQ(chunk.RdCount(), 0);
    EXPECT_EQ(chunk.Write(bytes.data(), 10), 10) << "the whole capacity is free again";
}

TEST(TBufferChunk, Sizes) {
    EXPECT_EQ(TBuffer(0).BufSize(), 1514);
    EXPECT_EQ(TBuffer(-5).BufSize(), 1514);
    TBuffer chunk(4);
    const auto bytes = Numbered(4);
    chunk.Write(bytes.data(), 4);
    chunk.SetBufSize(2);
    EXPECT_EQ(chunk.BufSize(), 4) << "written bytes are kept";
    chunk.SetBufSize(8);
    EXPECT_EQ(chunk.Write(bytes.data(), 4), 4);
    auto [data, length] = chunk.Peek();
    ASSERT_EQ(length, 8);
    EXPECT_EQ(data[0], bytes[0]);
    EXPECT_EQ(data[4], bytes[0]);
}

} // namespace
