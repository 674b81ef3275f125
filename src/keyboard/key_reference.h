#pragma once

#include "keyboard/translate_key.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace telvora {

// The key reference (the Help menu's window and the man page's KEYS
// section), made by asking TranslateKey itself, so that it says what the
// keys really send.

// The ways a key is pressed that the reference shows, in its column order.
enum class TKeyWay { Alone, Shift, CapsLock, Ctrl, Alt };
inline constexpr std::array<TKeyWay, 5> kKeyWays = {TKeyWay::Alone, TKeyWay::Shift,
                                                    TKeyWay::CapsLock, TKeyWay::Ctrl, TKeyWay::Alt};
const char* KeyWayName(TKeyWay way);

// One row: a key, or a run of keys (A..Z) whose codes run alongside them.
struct TKeyRow {
    std::string key;
    // What each way sends: a code and its name, a run of codes, or "-".
    std::array<std::string, kKeyWays.size()> sends;
};
std::vector<TKeyRow> KeyReference();

// The keys the program itself takes before the translation, and what they do.
struct TProgramKey {
    const char* key;
    const char* does;
};
const std::vector<TProgramKey>& ProgramKeys();

// "97 a", "155 end of line", "225 inverse a".
std::string AtasciiCodeName(int code);

// The man page's KEYS section (from ".SH KEYS" up to the next section).
std::string KeysManSection();

} // namespace telvora
