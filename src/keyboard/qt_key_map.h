#pragma once

#include "keyboard/translate_key.h"

#include <QtCore/qnamespace.h>

#include <cstdint>

namespace telvora {

// The Windows virtual-key number of a Qt key, the one the key translation
// tables are written in, or 0 for a key they do not know. A shifted symbol is
// mapped back to the key that carries it ("!" is the 1 key, "{" the left
// bracket key), because the tables look at the key and the Shift state apart.
// Keypad keys are the keypad's own numbers (none of which has a code), except
// the keypad's Enter, which is Enter.
std::uint16_t VirtualKeyFromQt(int qtKey, Qt::KeyboardModifiers modifiers);

// The Shift, Alt and Ctrl of a key event.
TShiftState ShiftStateFromQt(Qt::KeyboardModifiers modifiers);

} // namespace telvora
