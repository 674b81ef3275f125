// Draws Telvora's icon in the sizes of the hicolor theme: a terminal's
// screen in the Atari's blue with two ATASCII glyphs from our own table
// (a "T" and the heart, code 0) above a row of the graphics blocks, in a
// grey case. The design is a 16x16 grid; each size scales it up.
//
//   make_icon [OUTPUT-DIR]   writes telvora-16.png ... telvora-256.png

#include "output_files.h"
#include "png_file.h"

#include "screen/glyph_table.h"

#include <string>
#include <vector>

namespace {

using telvora::tools::Rgb;

constexpr int kGrid = 16;
constexpr Rgb kCase{0x9A, 0x98, 0x92};
constexpr Rgb kScreen{0x1A, 0x4E, 0xA8};
constexpr Rgb kInk{0xD8, 0xE8, 0xFF};
constexpr Rgb kBlocks{0xF0, 0xA0, 0x30};

// The 16x16 design: the case's frame, the screen, two glyphs' top seven rows
// squeezed into columns 1..14 and rows 2..8, and a row of blocks.
std::vector<Rgb> Design() {
    std::vector<Rgb> grid(kGrid * kGrid, kCase);
    for (int y = 1; y < kGrid - 1; ++y) {
        for (int x = 1; x < kGrid - 1; ++x) {
            grid[static_cast<std::size_t>(y * kGrid + x)] = kScreen;
        }
    }
    const std::uint8_t codes[] = {'T', 0};
    for (int glyph = 0; glyph < 2; ++glyph) {
        const telvora::GlyphRows rows = telvora::AtasciiGlyph(codes[glyph]);
        for (int y = 0; y < 7; ++y) {
            for (int x = 0; x < 7; ++x) {
                if ((rows[static_cast<std::size_t>(y)] >> (7 - x)) & 1) {
                    grid[static_cast<std::size_t>((y + 2) * kGrid + 1 + glyph * 7 + x)] = kInk;
                }
            }
        }
    }
    for (int x = 2; x < kGrid - 2; x += 2) {
        grid[static_cast<std::size_t>(11 * kGrid + x)] = kBlocks;
        grid[static_cast<std::size_t>(12 * kGrid + x)] = kBlocks;
    }
    return grid;
}

std::vector<Rgb> Scaled(const std::vector<Rgb>& design, int size) {
    const int scale = size / kGrid;
    std::vector<Rgb> pixels(static_cast<std::size_t>(size * size));
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            pixels[static_cast<std::size_t>(y * size + x)] =
                design[static_cast<std::size_t>((y / scale) * kGrid + x / scale)];
        }
    }
    return pixels;
}

} // namespace

int main(int argc, char** argv) {
    const auto dir = telvora::tools::OutputDirectory("make_icon", argc, argv, "icons");
    if (!dir) {
        return 2;
    }
    const std::vector<Rgb> design = Design();
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        const std::vector<std::uint8_t> png =
            telvora::tools::PngFile(size, size, Scaled(design, size));
        if (!telvora::tools::WriteOutputFile("make_icon",
                                             *dir / ("telvora-" + std::to_string(size) + ".png"),
                                             png.data(), png.size())) {
            return 1;
        }
    }
    return 0;
}
