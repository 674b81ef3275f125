#include "screen/shared_screen.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

using namespace telvora;

namespace {

// A writer thread streams bytes while a reader takes consistent pictures.
TEST(SharedScreenThreads, WriterAndPainterDoNotRace) {
    SharedScreen screen;
    screen.WithModel([](ScreenModel& m) { m.SetColumns(40); });
    std::atomic<bool> done{false};
    std::thread writer([&] {
        const std::string line = "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG";
        for (int i = 0; i < 20000; ++i) {
            screen.WriteByte(
                static_cast<std::uint8_t>(line[static_cast<std::size_t>(i) % line.size()]));
            if (i % 97 == 0) {
                screen.WriteByte(atascii::kEndOfLine);
            }
        }
        const std::uint8_t tail[] = {atascii::kClearScreen, 'E', 'N', 'D'};
        screen.WriteBlock(tail, sizeof tail);
        done = true;
    });
    int pictures = 0;
    while (!done || pictures == 0) {
        screen.WithModel([&](ScreenModel& m) {
            EXPECT_GE(m.CursorX(), 1);
            EXPECT_LE(m.CursorX(), m.Columns());
            EXPECT_GE(m.CursorY(), 1);
            EXPECT_LE(m.CursorY(), m.Rows());
            m.TakeDamage();
        });
        ++pictures;
    }
    writer.join();
    screen.WithModel([](const ScreenModel& m) {
        EXPECT_EQ(m.Cell(1, 1), 'E');
        EXPECT_EQ(m.Cell(3, 1), 'D');
        EXPECT_EQ(m.CursorX(), 4);
        EXPECT_EQ(m.CursorY(), 1);
    });
}

} // namespace
