// Any bytes as pasted text through TextToAtascii, and as screen cells through
// RowsToUtf8.
//
// For pasted text:
//   - every code is End Of Line (155) or a plain code the table maps to a
//     character (Tab, 127, among them), and nothing is both kept and skipped:
//     codes and skipped characters together are no more than the bytes;
//   - the codes shown as text and read back give the same codes, nothing
//     skipped (End Of Line, shown as its glyph, the inverse Escape, comes back
//     as Escape), and doing that again changes nothing.
// For the same bytes as rows of 40 cells, their text read back is each row's
// codes, made plain and without trailing blanks, followed by End Of Line.
#include "screen/atascii_text.h"
#include "screen/screen_model.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

using namespace telvora;

namespace {

constexpr std::size_t kRowWidth = 40;
constexpr std::uint8_t kInverseBit = 0x80;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "atascii text: %s\n", what);
        std::abort();
    }
}

std::uint8_t Plain(std::uint8_t code) {
    return static_cast<std::uint8_t>(code & ~kInverseBit);
}

bool IsPlainBlank(std::uint8_t code) {
    return Plain(code) == kBlank;
}

void CheckPastedText(std::string_view text) {
    const TextAsAtascii pasted = TextToAtascii(text);
    Check(pasted.codes.size() + pasted.skipped <= text.size(), "more out than came in");
    for (std::uint8_t code : pasted.codes) {
        Check(code == atascii::kEndOfLine || (code < 128 && AtasciiToCodePoint(code) != 0),
              "a code the table does not give");
    }

    const std::string shown = AtasciiToUtf8(pasted.codes.data(), pasted.codes.size());
    const TextAsAtascii again = TextToAtascii(shown);
    Check(again.skipped == 0, "shown codes do not read back whole");
    Check(again.codes.size() == pasted.codes.size(), "shown codes read back to another count");
    for (std::size_t i = 0; i < again.codes.size(); ++i) {
        Check(again.codes[i] == Plain(pasted.codes[i]), "shown code read back as another");
    }
    Check(AtasciiToUtf8(again.codes.data(), again.codes.size()) == shown, "round trip unstable");
}

void CheckRows(const std::uint8_t* data, std::size_t size) {
    std::vector<std::span<const std::uint8_t>> rows;
    std::vector<std::uint8_t> expected;
    for (std::size_t at = 0; at < size; at += kRowWidth) {
        const std::span<const std::uint8_t> row(data + at, std::min(kRowWidth, size - at));
        rows.push_back(row);
        const auto end = std::find_if_not(row.rbegin(), row.rend(), IsPlainBlank).base();
        std::transform(row.begin(), end, std::back_inserter(expected), Plain);
        expected.push_back(atascii::kEndOfLine);
    }
    const TextAsAtascii back = TextToAtascii(RowsToUtf8(rows));
    Check(back.skipped == 0, "row text does not read back whole");
    Check(back.codes == expected, "row text reads back as other codes");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CheckPastedText({reinterpret_cast<const char*>(data), size});
    CheckRows(data, size);
    return 0;
}
