#include "screen/screen_dump.h"

namespace telvora {

std::string ScreenDump(const ScreenModel& model) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(static_cast<std::size_t>(model.Rows() * (model.Columns() * 3 + 1) + 16));
    for (int row = 1; row <= model.Rows(); ++row) {
        for (int column = 1; column <= model.Columns(); ++column) {
            const std::uint8_t code = model.Cell(column, row);
            if (column > 1) {
                text += ' ';
            }
            text += kHex[code >> 4];
            text += kHex[code & 0x0F];
        }
        text += '\n';
    }
    text +=
        "cursor " + std::to_string(model.CursorX()) + ' ' + std::to_string(model.CursorY()) + '\n';
    return text;
}

} // namespace telvora
