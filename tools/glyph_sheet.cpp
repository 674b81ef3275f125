// Shows the ATASCII glyph table so that people can look at it: as ASCII art
// on standard output, or as a PGM picture of all 256 glyphs in a 16x16 grid.
//
//   glyph_sheet                    ASCII art of codes 0..255
//   glyph_sheet --pgm FILE [SCALE] picture, each pixel SCALE x SCALE (default 4)

#include "screen/glyph_table.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr int kGlyphSize = 8;
constexpr int kGridSide = 16;
constexpr int kGap = 1; // grey line between cells, in picture pixels
constexpr int kDefaultScale = 4;
constexpr int kMaxScale = 32;
constexpr std::uint8_t kInk = 255;
constexpr std::uint8_t kPaper = 0;
constexpr std::uint8_t kGridGrey = 96;

bool IsInk(const telvora::GlyphRows& rows, int x, int y) {
    return (rows[static_cast<std::size_t>(y)] >> (kGlyphSize - 1 - x)) & 1;
}

void PrintAscii(std::ostream& out) {
    for (int code = 0; code < 256; ++code) {
        const auto rows = telvora::AtasciiGlyph(static_cast<std::uint8_t>(code));
        out << "code " << code << '\n';
        for (int y = 0; y < kGlyphSize; ++y) {
            for (int x = 0; x < kGlyphSize; ++x) {
                out << (IsInk(rows, x, y) ? '#' : '.');
            }
            out << '\n';
        }
    }
}

bool WritePgm(const std::string& path, int scale) {
    const int cell = kGlyphSize * scale + kGap;
    const int side = kGridSide * cell + kGap;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(side) * side, kGridGrey);
    for (int code = 0; code < 256; ++code) {
        const auto rows = telvora::AtasciiGlyph(static_cast<std::uint8_t>(code));
        const int left = (code % kGridSide) * cell + kGap;
        const int top = (code / kGridSide) * cell + kGap;
        for (int py = 0; py < kGlyphSize * scale; ++py) {
            for (int px = 0; px < kGlyphSize * scale; ++px) {
                const bool ink = IsInk(rows, px / scale, py / scale);
                pixels[static_cast<std::size_t>(top + py) * side + left + px] = ink ? kInk : kPaper;
            }
        }
    }
    std::ofstream file(path, std::ios::binary);
    if (!file) {
        return false;
    }
    file << "P5\n" << side << ' ' << side << "\n255\n";
    file.write(reinterpret_cast<const char*>(pixels.data()),
               static_cast<std::streamsize>(pixels.size()));
    return static_cast<bool>(file);
}

int Usage() {
    std::cerr << "usage: glyph_sheet [--pgm FILE [SCALE]]\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 1) {
        PrintAscii(std::cout);
        return 0;
    }
    if (argc < 3 || argc > 4 || std::string(argv[1]) != "--pgm") {
        return Usage();
    }
    int scale = kDefaultScale;
    if (argc == 4) {
        scale = std::atoi(argv[3]);
        if (scale < 1 || scale > kMaxScale) {
            return Usage();
        }
    }
    if (!WritePgm(argv[2], scale)) {
        std::cerr << "glyph_sheet: cannot write " << argv[2] << '\n';
        return 1;
    }
    return 0;
}
