#pragma once

#include <cstdint>
#include <vector>

namespace telvora {

// A modem in command mode speaks ASCII: the Atari's End Of Line (155) is a
// CR to it and the Atari's Backspace (126) a BS (8); other codes go as they are.
std::uint8_t CommandModeKey(std::uint8_t code);

// What a modem in command mode sends, made readable on the ATASCII screen:
// its line ends (CR LF, a lone CR or a lone LF) become End Of Line, and the
// BS of an echoed Backspace the Atari's Backspace.
class TCommandModeText {
public:
    std::vector<std::uint8_t> Translate(const std::uint8_t* bytes, std::size_t count);

private:
    bool m_afterCr = false;
};

} // namespace telvora
