#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace telvora {

class ScreenModel;

// ATASCII codes as Unicode text and back, for copying the screen and pasting
// text into it. One table (atascii_text.cpp) gives each code 0..127 its
// Unicode equivalent; codes 128..255, the inverse video of 0..127, are shown
// as their plain counterpart, since plain text has no inverse video.

// The Unicode code point of `code` (inverse codes as their plain one), or 0
// when the code has no equivalent.
char32_t AtasciiToCodePoint(std::uint8_t code);

// `count` codes as UTF-8, one character per code; a code without an
// equivalent adds nothing.
std::string AtasciiToUtf8(const std::uint8_t* codes, std::size_t count);

// Rows of screen cells as lines of text: each row mapped code by code, the
// blanks at its end (32, and 160, the inverse space, which is a blank in
// plain text) dropped, and '\n' after every row, the last one included.
std::string RowsToUtf8(std::span<const std::span<const std::uint8_t>> rows);

// The visible screen (Rows rows of Columns cells) as RowsToUtf8 gives it.
std::string ScreenToUtf8(const ScreenModel& model);

struct TextAsAtascii {
    std::vector<std::uint8_t> codes;
    // Characters with no ATASCII code, and each piece of invalid UTF-8 (a
    // stray byte, or the start of a sequence that breaks off), left out.
    std::size_t skipped = 0;
};

// UTF-8 text as ATASCII codes to send: a line end (LF, CR LF or a lone CR)
// becomes End Of Line (155), a tab the Tab code (127), and every character
// of the table its plain code 0..127.
TextAsAtascii TextToAtascii(std::string_view utf8);

} // namespace telvora
