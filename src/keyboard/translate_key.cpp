#include "keyboard/translate_key.h"

namespace telvora {

namespace {

constexpr bool IsLetter(std::uint16_t key) {
    return key >= 'A' && key <= 'Z';
}

constexpr bool IsDigit(std::uint16_t key) {
    return key >= '0' && key <= '9';
}

// The keys whose code is the same in every table that has them.
int ArrowCode(std::uint16_t key) {
    switch (key) {
    case vk::kLeft:
        return 30;
    case vk::kUp:
        return 28;
    case vk::kRight:
        return 31;
    case vk::kDown:
        return 29;
    default:
        return kNoKeyCode;
    }
}

// Shift key held.
int ShiftedCode(std::uint16_t key) {
    static constexpr char kShiftedDigits[] = ")!@#$%^&*(";
    if (IsDigit(key)) {
        return kShiftedDigits[key - '0'];
    }
    switch (key) {
    case vk::kBack:
        return 156; // delete line
    case vk::kTab:
        return 159; // set tab stop
    case vk::kInsert:
        return 157; // insert line
    case vk::kOem1:
        return ':';
    case vk::kOemPlus:
        return '+';
    case vk::kOemComma:
        return '<';
    case vk::kOemMinus:
        return '_';
    case vk::kOemPeriod:
        return '>';
    case vk::kOem2:
        return '?';
    case vk::kOem5:
        return '|';
    case vk::kOem7:
        return '"';
    default:
        return kNoKeyCode;
    }
}

// The keys that give the same unshifted sign with or without Caps Lock.
int UnshiftedSignCode(std::uint16_t key) {
    if (IsDigit(key)) {
        return key;
    }
    switch (key) {
    case vk::kBack:
        return 126;
    case vk::kTab:
        return 127;
    case vk::kOem1:
        return ';';
    case vk::kOemPlus:
        return '=';
    case vk::kOemComma:
        return ',';
    case vk::kOemMinus:
    case vk::kOemPeriod:
    case vk::kOem2:
        return key - 144;
    case vk::kOem4:
    case vk::kOem5:
    case vk::kOem6:
        return key - 128;
    default:
        return kNoKeyCode;
    }
}

// Caps Lock on, the Shift key not held.
int CapitalsCode(std::uint16_t key) {
    return key == vk::kOem7 ? '"' : UnshiftedSignCode(key);
}

// Whenever Shift or Caps Lock is in effect, over the two tables above.
int CommonCode(std::uint16_t key) {
    if (IsLetter(key)) {
        return key;
    }
    switch (key) {
    case vk::kReturn:
        return 155;
    case vk::kEscape:
        return 27;
    case vk::kSpace:
        return 32;
    case vk::kOem3:
        return 125; // clear screen
    default:
        return ArrowCode(key);
    }
}

int ControlCode(std::uint16_t key) {
    if (IsLetter(key)) {
        return key - 64; // the control graphics 1..26
    }
    switch (key) {
    case vk::kBack:
        return 254; // delete character
    case vk::kTab:
        return 158; // clear tab stop
    case vk::kInsert:
        return 255; // insert character
    case vk::kOem1:
        return 123;
    case vk::kOemComma:
        return 0;
    case vk::kOemPeriod:
        return 96;
    default:
        return CommonCode(key); // Enter, Escape, Space, `, arrows
    }
}

int NormalCode(std::uint16_t key) {
    if (IsLetter(key)) {
        return key + 32;
    }
    if (key == vk::kOem7) {
        return '\'';
    }
    if (const int sign = UnshiftedSignCode(key); sign != kNoKeyCode) {
        return sign;
    }
    return CommonCode(key); // letters are done: Enter, Escape, Space, `, arrows
}

// Alt gives the inverse of letters, digits, punctuation and the control
// graphics; Escape, the cursor codes and the editing codes stay as they are.
bool HasInverse(int code) {
    return (code >= 0 && code <= 26) || (code >= 32 && code <= 95) || (code >= 97 && code <= 122);
}

} // namespace

int TranslateKey(std::uint16_t key, TShiftState shift, TKeyboardState keyboard) {
    if (keyboard.capsLockOn) {
        shift.shift = true;
    }
    int code = kNoKeyCode;
    if (shift.shift) {
        code = keyboard.shiftHeld ? ShiftedCode(key) : CapitalsCode(key);
        if (const int common = CommonCode(key); common != kNoKeyCode) {
            code = common;
        }
    }
    if (code == kNoKeyCode && shift.ctrl) {
        code = ControlCode(key);
    }
    if (code == kNoKeyCode) {
        code = NormalCode(key);
    }
    if (shift.alt && HasInverse(code)) {
        code += 128;
    }
    return code;
}

} // namespace telvora
