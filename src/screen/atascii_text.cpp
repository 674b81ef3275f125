#include "screen/atascii_text.h"

#include "screen/screen_model.h"

#include <algorithm>
#include <array>
#include <utility>

namespace telvora {

namespace {

constexpr std::size_t kPlainCodes = 128;
constexpr std::uint8_t kInverseBit = 0x80;
constexpr char32_t kNoEquivalent = 0;

// The Unicode equivalent of each plain ATASCII code, chosen from what the
// glyph looks like. Box-drawing lines are two pixels thick on the Atari, so
// they map to the heavy box-drawing characters, which join across cells as
// the Atari's do. Two bands have no exact Unicode block element and map to
// the nearest one: 2 (a quarter-width bar at the right edge) to the right
// one-eighth block, and 13 (a quarter-height band along the top) to the
// upper one-eighth block; the exact quarters exist only in the Symbols for
// Legacy Computing block, which few fonts have. Every code has an
// equivalent; a kNoEquivalent entry would make the code add nothing to text
// and no character map to it.
constexpr std::array<char32_t, kPlainCodes> MakeUnicodeTable() {
    std::array<char32_t, kPlainCodes> table{};
    table[0] = U'\u2665';  // ♥ heart
    table[1] = U'\u2523';  // ┣ tee pointing right
    table[2] = U'\u2595';  // ▕ bar at the right edge
    table[3] = U'\u251B';  // ┛ corner up and left
    table[4] = U'\u252B';  // ┫ tee pointing left
    table[5] = U'\u2513';  // ┓ corner left and down
    table[6] = U'\u2571';  // ╱ diagonal up
    table[7] = U'\u2572';  // ╲ diagonal down
    table[8] = U'\u25E2';  // ◢ lower-right triangle
    table[9] = U'\u2597';  // ▗ lower-right quadrant
    table[10] = U'\u25E3'; // ◣ lower-left triangle
    table[11] = U'\u259D'; // ▝ upper-right quadrant
    table[12] = U'\u2598'; // ▘ upper-left quadrant
    table[13] = U'\u2594'; // ▔ band along the top
    table[14] = U'\u2582'; // ▂ band along the bottom
    table[15] = U'\u2596'; // ▖ lower-left quadrant
    table[16] = U'\u2663'; // ♣ club
    table[17] = U'\u250F'; // ┏ corner right and down
    table[18] = U'\u2501'; // ━ horizontal line
    table[19] = U'\u254B'; // ╋ cross
    table[20] = U'\u25CF'; // ● ball
    table[21] = U'\u2584'; // ▄ lower half
    table[22] = U'\u258E'; // ▎ bar at the left edge
    table[23] = U'\u2533'; // ┳ tee pointing down
    table[24] = U'\u253B'; // ┻ tee pointing up
    table[25] = U'\u258C'; // ▌ left half
    table[26] = U'\u2517'; // ┗ corner up and right
    // The Escape glyph is a small bent arrow, but as text the Control
    // Pictures symbol says what it stands for and cannot be mistaken for
    // 125's bent arrow or for the cursor arrows.
    table[27] = U'\u241B'; // ␛ Escape
    table[28] = U'\u2191'; // ↑
    table[29] = U'\u2193'; // ↓
    table[30] = U'\u2190'; // ←
    table[31] = U'\u2192'; // →
    for (char32_t code = 32; code <= 95; ++code) {
        table[code] = code; // space, punctuation, digits, capitals
    }
    table[96] = U'\u2666'; // ♦ diamond
    for (char32_t code = 97; code <= 122; ++code) {
        table[code] = code; // small letters
    }
    table[123] = U'\u2660'; // ♠ spade
    table[124] = U'|';      // a full-height bar, as text the ASCII one
    table[125] = U'\u21B0'; // ↰ bent arrow up-left, the clear-screen symbol
    table[126] = U'\u25C0'; // ◀ the backspace symbol
    table[127] = U'\u25B6'; // ▶ the tab symbol
    return table;
}

constexpr std::array<char32_t, kPlainCodes> kUnicode = MakeUnicodeTable();

struct CodeForCodePoint {
    char32_t codePoint;
    std::uint8_t code;
};

// The table turned round, sorted by code point for a binary search.
constexpr std::array<CodeForCodePoint, kPlainCodes> MakeReverseTable() {
    std::array<CodeForCodePoint, kPlainCodes> reverse{};
    for (std::size_t code = 0; code < kPlainCodes; ++code) {
        reverse[code] = {kUnicode[code], static_cast<std::uint8_t>(code)};
    }
    std::sort(reverse.begin(), reverse.end(),
              [](const auto& a, const auto& b) { return a.codePoint < b.codePoint; });
    return reverse;
}

constexpr std::array<CodeForCodePoint, kPlainCodes> kByCodePoint = MakeReverseTable();

constexpr bool TableIsOneToOne() {
    for (std::size_t i = 1; i < kByCodePoint.size(); ++i) {
        if (kByCodePoint[i].codePoint != kNoEquivalent &&
            kByCodePoint[i].codePoint == kByCodePoint[i - 1].codePoint) {
            return false;
        }
    }
    return true;
}
static_assert(TableIsOneToOne(), "two ATASCII codes share a code point; pasting needs one code");

// Returns the plain code for `codePoint`, or -1.
int CodeFor(char32_t codePoint) {
    if (codePoint == kNoEquivalent) {
        return -1;
    }
    const auto found = std::lower_bound(
        kByCodePoint.begin(), kByCodePoint.end(), codePoint,
        [](const CodeForCodePoint& entry, char32_t wanted) { return entry.codePoint < wanted; });
    if (found == kByCodePoint.end() || found->codePoint != codePoint) {
        return -1;
    }
    return found->code;
}

void AppendUtf8(std::string& text, char32_t codePoint) {
    const auto byte = [](char32_t value) { return static_cast<char>(value); };
    if (codePoint < 0x80) {
        text += byte(codePoint);
    } else if (codePoint < 0x800) {
        text += byte(0xC0 | (codePoint >> 6));
        text += byte(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        text += byte(0xE0 | (codePoint >> 12));
        text += byte(0x80 | ((codePoint >> 6) & 0x3F));
        text += byte(0x80 | (codePoint & 0x3F));
    } else {
        text += byte(0xF0 | (codePoint >> 18));
        text += byte(0x80 | ((codePoint >> 12) & 0x3F));
        text += byte(0x80 | ((codePoint >> 6) & 0x3F));
        text += byte(0x80 | (codePoint & 0x3F));
    }
}

void AppendCodes(std::string& text, const std::uint8_t* codes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const char32_t codePoint = AtasciiToCodePoint(codes[i]);
        if (codePoint != kNoEquivalent) {
            AppendUtf8(text, codePoint);
        }
    }
}

bool IsBlank(std::uint8_t code) {
    return (code & ~kInverseBit) == kBlank;
}

// One UTF-8 character read from the text. An invalid one has the length of
// its maximal valid start (at least 1 byte), so that a sequence broken off
// by a foreign byte counts as one skipped character, as a decoder that
// shows U+FFFD for it would.
struct Decoded {
    char32_t codePoint = 0;
    std::size_t length = 1;
    bool valid = false;
};

bool InRange(unsigned char byte, unsigned char low, unsigned char high) {
    return byte >= low && byte <= high;
}

// The allowed range of the second byte after `lead`, which rules out
// overlong forms, surrogates and code points past U+10FFFF.
std::pair<unsigned char, unsigned char> SecondByteRange(unsigned char lead) {
    switch (lead) {
    case 0xE0:
        return {0xA0, 0xBF};
    case 0xED:
        return {0x80, 0x9F};
    case 0xF0:
        return {0x90, 0xBF};
    case 0xF4:
        return {0x80, 0x8F};
    default:
        return {0x80, 0xBF};
    }
}

std::size_t SequenceLength(unsigned char lead) {
    if (lead < 0x80) {
        return 1;
    }
    if (InRange(lead, 0xC2, 0xDF)) {
        return 2;
    }
    if (InRange(lead, 0xE0, 0xEF)) {
        return 3;
    }
    if (InRange(lead, 0xF0, 0xF4)) {
        return 4;
    }
    return 0; // a continuation byte, an overlong lead or past U+10FFFF
}

Decoded DecodeAt(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = SequenceLength(lead);
    if (length == 0) {
        return {};
    }
    if (length == 1) {
        return {lead, 1, true};
    }
    constexpr char32_t kLeadBits[] = {0, 0, 0x1F, 0x0F, 0x07};
    Decoded decoded{lead & kLeadBits[length], 1, false};
    for (std::size_t i = 1; i < length; ++i) {
        if (at + i >= text.size()) {
            return decoded;
        }
        const auto byte = static_cast<unsigned char>(text[at + i]);
        const auto [low, high] =
            i == 1 ? SecondByteRange(lead) : std::pair<unsigned char, unsigned char>{0x80, 0xBF};
        if (!InRange(byte, low, high)) {
            return decoded;
        }
        decoded.codePoint = (decoded.codePoint << 6) | (byte & 0x3F);
        decoded.length = i + 1;
    }
    decoded.valid = true;
    return decoded;
}

} // namespace

char32_t AtasciiToCodePoint(std::uint8_t code) {
    return kUnicode[code & ~kInverseBit];
}

std::string AtasciiToUtf8(const std::uint8_t* codes, std::size_t count) {
    std::string text;
    text.reserve(count);
    AppendCodes(text, codes, count);
    return text;
}

std::string RowsToUtf8(std::span<const std::span<const std::uint8_t>> rows) {
    std::string text;
    for (const auto row : rows) {
        const auto end = std::find_if_not(row.rbegin(), row.rend(), IsBlank).base();
        AppendCodes(text, row.data(), static_cast<std::size_t>(end - row.begin()));
        text += '\n';
    }
    return text;
}

std::string ScreenToUtf8(const ScreenModel& model) {
    std::vector<std::span<const std::uint8_t>> rows;
    rows.reserve(static_cast<std::size_t>(model.Rows()));
    for (int row = 1; row <= model.Rows(); ++row) {
        rows.emplace_back(model.RowData(row), static_cast<std::size_t>(model.Columns()));
    }
    return RowsToUtf8(rows);
}

TextAsAtascii TextToAtascii(std::string_view utf8) {
    TextAsAtascii result;
    result.codes.reserve(utf8.size());
    std::size_t at = 0;
    while (at < utf8.size()) {
        const Decoded decoded = DecodeAt(utf8, at);
        at += decoded.length;
        if (!decoded.valid) {
            ++result.skipped;
            continue;
        }
        if (decoded.codePoint == U'\r' || decoded.codePoint == U'\n') {
            // CR LF is one line end; a lone CR is one too.
            if (decoded.codePoint == U'\r' && at < utf8.size() && utf8[at] == '\n') {
                ++at;
            }
            result.codes.push_back(atascii::kEndOfLine);
        } else if (decoded.codePoint == U'\t') {
            result.codes.push_back(atascii::kTab);
        } else if (const int code = CodeFor(decoded.codePoint); code >= 0) {
            result.codes.push_back(static_cast<std::uint8_t>(code));
        } else {
            ++result.skipped;
        }
    }
    return result;
}

} // namespace telvora
