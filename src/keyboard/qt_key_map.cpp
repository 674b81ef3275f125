#include "keyboard/qt_key_map.h"

namespace telvora {

namespace {

constexpr std::uint16_t kNoVirtualKey = 0;
constexpr std::uint16_t kNumpad0 = 96;
constexpr std::uint16_t kMultiply = 106;
constexpr std::uint16_t kAdd = 107;
constexpr std::uint16_t kSubtract = 109;
constexpr std::uint16_t kDecimal = 110;
constexpr std::uint16_t kDivide = 111;

std::uint16_t KeypadKey(int qtKey) {
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) {
        return static_cast<std::uint16_t>(kNumpad0 + (qtKey - Qt::Key_0));
    }
    switch (qtKey) {
    case Qt::Key_Enter:
    case Qt::Key_Return:
        return vk::kReturn;
    case Qt::Key_Asterisk:
        return kMultiply;
    case Qt::Key_Plus:
        return kAdd;
    case Qt::Key_Minus:
        return kSubtract;
    case Qt::Key_Period:
    case Qt::Key_Comma:
        return kDecimal;
    case Qt::Key_Slash:
        return kDivide;
    default:
        return kNoVirtualKey; // keypad arrows and the like: no code either way
    }
}

// The digit key that carries a shifted sign on a PC keyboard.
std::uint16_t DigitKeyOfSign(int qtKey) {
    switch (qtKey) {
    case Qt::Key_ParenRight:
        return '0';
    case Qt::Key_Exclam:
        return '1';
    case Qt::Key_At:
        return '2';
    case Qt::Key_NumberSign:
        return '3';
    case Qt::Key_Dollar:
        return '4';
    case Qt::Key_Percent:
        return '5';
    case Qt::Key_AsciiCircum:
        return '6';
    case Qt::Key_Ampersand:
        return '7';
    case Qt::Key_Asterisk:
        return '8';
    case Qt::Key_ParenLeft:
        return '9';
    default:
        return kNoVirtualKey;
    }
}

std::uint16_t PunctuationKey(int qtKey) {
    switch (qtKey) {
    case Qt::Key_Semicolon:
    case Qt::Key_Colon:
        return vk::kOem1;
    case Qt::Key_Equal:
    case Qt::Key_Plus:
        return vk::kOemPlus;
    case Qt::Key_Comma:
    case Qt::Key_Less:
        return vk::kOemComma;
    case Qt::Key_Minus:
    case Qt::Key_Underscore:
        return vk::kOemMinus;
    case Qt::Key_Period:
    case Qt::Key_Greater:
        return vk::kOemPeriod;
    case Qt::Key_Slash:
    case Qt::Key_Question:
        return vk::kOem2;
    case Qt::Key_QuoteLeft:
    case Qt::Key_AsciiTilde:
        return vk::kOem3;
    case Qt::Key_BracketLeft:
    case Qt::Key_BraceLeft:
        return vk::kOem4;
    case Qt::Key_Backslash:
    case Qt::Key_Bar:
        return vk::kOem5;
    case Qt::Key_BracketRight:
    case Qt::Key_BraceRight:
        return vk::kOem6;
    case Qt::Key_Apostrophe:
    case Qt::Key_QuoteDbl:
        return vk::kOem7;
    default:
        return kNoVirtualKey;
    }
}

std::uint16_t EditingKey(int qtKey) {
    switch (qtKey) {
    case Qt::Key_Backspace:
        return vk::kBack;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: // Shift+Tab
        return vk::kTab;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return vk::kReturn;
    case Qt::Key_Escape:
        return vk::kEscape;
    case Qt::Key_Space:
        return vk::kSpace;
    case Qt::Key_PageUp:
        return 33;
    case Qt::Key_PageDown:
        return 34;
    case Qt::Key_End:
        return 35;
    case Qt::Key_Home:
        return 36;
    case Qt::Key_Left:
        return vk::kLeft;
    case Qt::Key_Up:
        return vk::kUp;
    case Qt::Key_Right:
        return vk::kRight;
    case Qt::Key_Down:
        return vk::kDown;
    case Qt::Key_Insert:
        return vk::kInsert;
    case Qt::Key_Delete:
        return vk::kDelete;
    case Qt::Key_Shift:
        return 16;
    case Qt::Key_Control:
        return 17;
    case Qt::Key_Alt:
        return 18;
    case Qt::Key_CapsLock:
        return 20;
    default:
        return kNoVirtualKey;
    }
}

} // namespace

std::uint16_t VirtualKeyFromQt(int qtKey, Qt::KeyboardModifiers modifiers) {
    if (modifiers.testFlag(Qt::KeypadModifier)) {
        return KeypadKey(qtKey);
    }
    if ((qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) || (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)) {
        return static_cast<std::uint16_t>(qtKey); // the same numbers as the virtual keys
    }
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) {
        return static_cast<std::uint16_t>(vk::kF1 + (qtKey - Qt::Key_F1));
    }
    for (const auto find : {DigitKeyOfSign, PunctuationKey, EditingKey}) {
        if (const std::uint16_t key = find(qtKey); key != kNoVirtualKey) {
            return key;
        }
    }
    return kNoVirtualKey;
}

TShiftState ShiftStateFromQt(Qt::KeyboardModifiers modifiers) {
    return TShiftState{modifiers.testFlag(Qt::ShiftModifier), modifiers.testFlag(Qt::AltModifier),
                       modifiers.testFlag(Qt::ControlModifier)};
}

} // namespace telvora
