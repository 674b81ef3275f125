#include "keyboard/qt_key_map.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

using namespace telvora;

namespace {

// What a key press as Qt reports it ends up sending, with the Shift key held
// exactly when Qt says Shift.
int Sent(int qtKey, Qt::KeyboardModifiers modifiers, bool capsLock = false) {
    const TKeyboardState keyboard{modifiers.testFlag(Qt::ShiftModifier), capsLock};
    return TranslateKey(VirtualKeyFromQt(qtKey, modifiers), ShiftStateFromQt(modifiers), keyboard);
}

TEST(QtKeyMap, LettersAndDigitsKeepTheirNumbers) {
    for (int key = Qt::Key_A; key <= Qt::Key_Z; ++key) {
        EXPECT_EQ(VirtualKeyFromQt(key, Qt::NoModifier), key);
        EXPECT_EQ(VirtualKeyFromQt(key, Qt::ShiftModifier | Qt::ControlModifier), key);
    }
    for (int key = Qt::Key_0; key <= Qt::Key_9; ++key) {
        EXPECT_EQ(VirtualKeyFromQt(key, Qt::NoModifier), key);
    }
}

TEST(QtKeyMap, ShiftedSignsGoBackToTheKeyThatCarriesThem) {
    const std::vector<std::pair<int, std::uint16_t>> pairs = {{Qt::Key_ParenRight, '0'},
                                                              {Qt::Key_Exclam, '1'},
                                                              {Qt::Key_At, '2'},
                                                              {Qt::Key_NumberSign, '3'},
                                                              {Qt::Key_Dollar, '4'},
                                                              {Qt::Key_Percent, '5'},
                                                              {Qt::Key_AsciiCircum, '6'},
                                                              {Qt::Key_Ampersand, '7'},
                                                              {Qt::Key_Asterisk, '8'},
                                                              {Qt::Key_ParenLeft, '9'},
                                                              {Qt::Key_Colon, vk::kOem1},
                                                              {Qt::Key_Plus, vk::kOemPlus},
                                                              {Qt::Key_Less, vk::kOemComma},
                                                              {Qt::Key_Underscore, vk::kOemMinus},
                                                              {Qt::Key_Greater, vk::kOemPeriod},
                                                              {Qt::Key_Question, vk::kOem2},
                                                              {Qt::Key_AsciiTilde, vk::kOem3},
                                                              {Qt::Key_BraceLeft, vk::kOem4},
                                                              {Qt::Key_Bar, vk::kOem5},
                                                              {Qt::Key_BraceRight, vk::kOem6},
                                                              {Qt::Key_QuoteDbl, vk::kOem7}};
    for (const auto& [qtKey, key] : pairs) {
        EXPECT_EQ(VirtualKeyFromQt(qtKey, Qt::ShiftModifier), key) << qtKey;
    }
    const std::vector<std::pair<int, std::uint16_t>> plain = {
        {Qt::Key_Semicolon, vk::kOem1},   {Qt::Key_Equal, vk::kOemPlus},
        {Qt::Key_Comma, vk::kOemComma},   {Qt::Key_Minus, vk::kOemMinus},
        {Qt::Key_Period, vk::kOemPeriod}, {Qt::Key_Slash, vk::kOem2},
        {Qt::Key_QuoteLeft, vk::kOem3},   {Qt::Key_BracketLeft, vk::kOem4},
        {Qt::Key_Backslash, vk::kOem5},   {Qt::Key_BracketRight, vk::kOem6},
        {Qt::Key_Apostrophe, vk::kOem7}};
    for (const auto& [qtKey, key] : plain) {
        EXPECT_EQ(VirtualKeyFromQt(qtKey, Qt::NoModifier), key) << qtKey;
    }
}

TEST(QtKeyMap, EditingAndCursorKeys) {
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_Backspace, Qt::NoModifier), vk::kBack);
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_Tab, Qt::NoModifier), vk::kTab);
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_Backtab, Qt::ShiftModifier), vk::kTab);
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_Return, Qt::NoModifier), vk::kReturn);
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_Escape, Qt::NoModifier), vk::kEscape);
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_Space, Qt::NoModifier), vk::kSpace);
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_Left, Qt::NoModifier), vk::kLeft);
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_Up, Qt::NoModifier), vk::kUp);
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_Right, Qt::NoModifier), vk::kRight);
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_Down, Qt::NoModifier), vk::kDown);
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_Insert, Qt::NoModifier), vk::kInsert);
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_Delete, Qt::NoModifier), vk::kDelete);
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_F1, Qt::NoModifier), vk::kF1);
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_F12, Qt::NoModifier), vk::kF1 + 11);
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_unknown, Qt::NoModifier), 0);
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_Eacute, Qt::NoModifier), 0);
}

TEST(QtKeyMap, TheKeypadIsNotTheMainKeyboard) {
    EXPECT_EQ(Sent(Qt::Key_5, Qt::KeypadModifier), kNoKeyCode);
    EXPECT_EQ(Sent(Qt::Key_Plus, Qt::KeypadModifier), kNoKeyCode);
    EXPECT_EQ(Sent(Qt::Key_Home, Qt::KeypadModifier), kNoKeyCode);
    EXPECT_EQ(Sent(Qt::Key_Enter, Qt::KeypadModifier), 155);
}

TEST(QtKeyMap, KeyPressesSendWhatAnAtariKeyboardWould) {
    EXPECT_EQ(Sent(Qt::Key_A, Qt::NoModifier), 97);
    EXPECT_EQ(Sent(Qt::Key_A, Qt::ShiftModifier), 65);
    EXPECT_EQ(Sent(Qt::Key_A, Qt::NoModifier, true), 65);
    EXPECT_EQ(Sent(Qt::Key_A, Qt::ControlModifier), 1);
    EXPECT_EQ(Sent(Qt::Key_A, Qt::AltModifier), 225);
    EXPECT_EQ(Sent(Qt::Key_At, Qt::ShiftModifier), 64);
    EXPECT_EQ(Sent(Qt::Key_Exclam, Qt::ShiftModifier), '!');
    EXPECT_EQ(Sent(Qt::Key_BraceLeft, Qt::ShiftModifier), '[');
    EXPECT_EQ(Sent(Qt::Key_QuoteDbl, Qt::ShiftModifier), '"');
    EXPECT_EQ(Sent(Qt::Key_Apostrophe, Qt::NoModifier), '\'');
    EXPECT_EQ(Sent(Qt::Key_Backtab, Qt::ShiftModifier), 159);
    EXPECT_EQ(Sent(Qt::Key_Tab, Qt::ControlModifier), 158);
    EXPECT_EQ(Sent(Qt::Key_Insert, Qt::ShiftModifier), 157);
    EXPECT_EQ(Sent(Qt::Key_Insert, Qt::ControlModifier), 255);
    EXPECT_EQ(Sent(Qt::Key_QuoteLeft, Qt::NoModifier), 125);
    EXPECT_EQ(Sent(Qt::Key_AsciiTilde, Qt::ShiftModifier), 125);
    EXPECT_EQ(Sent(Qt::Key_Delete, Qt::NoModifier), kNoKeyCode);
    EXPECT_EQ(Sent(Qt::Key_F1, Qt::NoModifier), kNoKeyCode);
}

} // namespace
