#include "keyboard/translate_key.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>
#include <utility>
#include <vector>

using namespace telvora;

namespace {

constexpr TShiftState kNone{};
constexpr TShiftState kShift{true, false, false};
constexpr TShiftState kAlt{false, true, false};
constexpr TShiftState kCtrl{false, false, true};
constexpr TKeyboardState kUp{};
constexpr TKeyboardState kShiftDown{true, false};
constexpr TKeyboardState kCaps{false, true};

int Plain(std::uint16_t key) {
    return TranslateKey(key, kNone, kUp);
}
int Shifted(std::uint16_t key) {
    return TranslateKey(key, kShift, kShiftDown);
}
int Capitals(std::uint16_t key) {
    return TranslateKey(key, kNone, kCaps);
}
int Control(std::uint16_t key) {
    return TranslateKey(key, kCtrl, kUp);
}

using Rows = std::vector<std::pair<std::uint16_t, int>>;

void ExpectRows(int (*translate)(std::uint16_t), const Rows& rows, const char* table) {
    for (const auto& [key, code] : rows) {
        EXPECT_EQ(translate(key), code) << table << " key " << key;
    }
}

// Keys in every table with the same code (arrows, Enter, Escape, Space, `).
const Rows kCommonRows = {{vk::kReturn, 155}, {vk::kEscape, 27}, {vk::kSpace, 32},
                          {vk::kLeft, 30},    {vk::kUp, 28},     {vk::kRight, 31},
                          {vk::kDown, 29},    {vk::kOem3, 125}};

TEST(TranslateKey, EveryRowOfTheNormalTable) {
    Rows rows = {{vk::kBack, 126},      {vk::kTab, 127},      {vk::kOem1, ';'},
                 {vk::kOemPlus, '='},   {vk::kOemComma, ','}, {vk::kOemMinus, '-'},
                 {vk::kOemPeriod, '.'}, {vk::kOem2, '/'},     {vk::kOem4, '['},
                 {vk::kOem5, '\\'},     {vk::kOem6, ']'},     {vk::kOem7, '\''}};
    for (std::uint16_t digit = '0'; digit <= '9'; ++digit) {
        rows.emplace_back(digit, digit);
    }
    for (std::uint16_t letter = 'A'; letter <= 'Z'; ++letter) {
        rows.emplace_back(letter, letter + 32);
    }
    rows.insert(rows.end(), kCommonRows.begin(), kCommonRows.end());
    ExpectRows(Plain, rows, "N");
}

TEST(TranslateKey, EveryRowOfTheShiftedTable) {
    const char* signs = ")!@#$%^&*(";
    Rows rows = {{vk::kBack, 156},     {vk::kTab, 159},       {vk::kInsert, 157},
                 {vk::kOem1, ':'},     {vk::kOemPlus, '+'},   {vk::kOemComma, '<'},
                 {vk::kOemMinus, '_'}, {vk::kOemPeriod, '>'}, {vk::kOem2, '?'},
                 {vk::kOem5, '|'},     {vk::kOem7, '"'}};
    for (std::uint16_t digit = '0'; digit <= '9'; ++digit) {
        rows.emplace_back(digit, signs[digit - '0']);
    }
    for (std::uint16_t letter = 'A'; letter <= 'Z'; ++letter) {
        rows.emplace_back(letter, letter);
    }
    rows.insert(rows.end(), kCommonRows.begin(), kCommonRows.end());
    // Neither bracket is in the shifted or the common table: they fall through.
    rows.emplace_back(vk::kOem4, '[');
    rows.emplace_back(vk::kOem6, ']');
    ExpectRows(Shifted, rows, "S");
}

TEST(TranslateKey, EveryRowOfTheCapitalsTable) {
    Rows rows = {{vk::kBack, 126},      {vk::kTab, 127},      {vk::kOem1, ';'},
                 {vk::kOemPlus, '='},   {vk::kOemComma, ','}, {vk::kOemMinus, '-'},
                 {vk::kOemPeriod, '.'}, {vk::kOem2, '/'},     {vk::kOem4, '['},
                 {vk::kOem5, '\\'},     {vk::kOem6, ']'},     {vk::kOem7, '"'}};
    for (std::uint16_t digit = '0'; digit <= '9'; ++digit) {
        rows.emplace_back(digit, digit);
    }
    for (std::uint16_t letter = 'A'; letter <= 'Z'; ++letter) {
        rows.emplace_back(letter, letter);
    }
    rows.insert(rows.end(), kCommonRows.begin(), kCommonRows.end());
    ExpectRows(Capitals, rows, "C");
}

TEST(TranslateKey, EveryRowOfTheControlTable) {
    Rows rows = {{vk::kBack, 254}, {vk::kTab, 158},    {vk::kInsert, 255},
                 {vk::kOem1, 123}, {vk::kOemComma, 0}, {vk::kOemPeriod, 96}};
    for (std::uint16_t letter = 'A'; letter <= 'Z'; ++letter) {
        rows.emplace_back(letter, letter - 64);
    }
    rows.insert(rows.end(), kCommonRows.begin(), kCommonRows.end());
    // Keys the control table lacks give their normal code.
    rows.emplace_back('5', '5');
    rows.emplace_back(vk::kOem7, '\'');
    ExpectRows(Control, rows, "K");
}

TEST(TranslateKey, KeysWithoutACodeGiveNothingWithAnyModifiers) {
    const std::vector<std::uint16_t> keys = {vk::kF1, vk::kDelete, 16, 17,  18,  20,  33,  34,
                                             35,      36,          96, 105, 106, 111, 123, 144};
    for (std::uint16_t key : keys) {
        for (TShiftState shift : {kNone, kShift, kAlt, kCtrl, TShiftState{true, true, true}}) {
            for (TKeyboardState keyboard : {kUp, kShiftDown, kCaps}) {
                EXPECT_EQ(TranslateKey(key, shift, keyboard), kNoKeyCode) << key;
            }
        }
    }
    EXPECT_EQ(Plain(vk::kInsert), kNoKeyCode);
    EXPECT_EQ(Capitals(vk::kInsert), kNoKeyCode);
}

TEST(TranslateKey, TheOrderOfTheTablesDecides) {
    // Caps Lock capitals stay capitals with Shift held too.
    EXPECT_EQ(TranslateKey('A', kShift, TKeyboardState{true, true}), 'A');
    // With Shift or Caps Lock, the capital letter wins over the control code.
    EXPECT_EQ(TranslateKey('A', kCtrl, kCaps), 'A');
    EXPECT_EQ(TranslateKey('A', TShiftState{true, false, true}, kShiftDown), 'A');
    // With Caps Lock, Ctrl+Backspace and Ctrl+Tab come from the capitals table.
    EXPECT_EQ(TranslateKey(vk::kBack, kCtrl, kCaps), 126);
    EXPECT_EQ(TranslateKey(vk::kTab, kCtrl, kCaps), 127);
    // The quote key: 39 alone, 34 with Caps Lock or Shift.
    EXPECT_EQ(Plain(vk::kOem7), 39);
    EXPECT_EQ(Capitals(vk::kOem7), 34);
    EXPECT_EQ(Shifted(vk::kOem7), 34);
    // A key that neither the capitals nor the common table has falls
    // through to the control table (Caps Lock with Ctrl+Insert inserts a
    // character); one the capitals table has does not (Caps Lock with
    // Ctrl+comma sends the comma, not 0).
    EXPECT_EQ(TranslateKey(vk::kInsert, kCtrl, kCaps), 255);
    EXPECT_EQ(TranslateKey(vk::kOemComma, kCtrl, kCaps), ',');
}

TEST(TranslateKey, AltGivesTheInverseOfPrintableCodesOnly) {
    EXPECT_EQ(TranslateKey('A', kAlt, kUp), 225);
    EXPECT_EQ(TranslateKey('A', kAlt, kCaps), 193);
    EXPECT_EQ(TranslateKey(vk::kSpace, kAlt, kUp), 160);
    EXPECT_EQ(TranslateKey('A', TShiftState{false, true, true}, kUp), 129);
    EXPECT_EQ(TranslateKey(vk::kOemComma, TShiftState{false, true, true}, kUp), 128);
    EXPECT_EQ(TranslateKey('2', TShiftState{true, true, false}, kShiftDown), 64 + 128);
    // Unchanged: Escape, the cursor codes, 96, 123..127 and the editing codes.
    for (auto [key, shift, keyboard, code] :
         std::vector<std::tuple<std::uint16_t, TShiftState, TKeyboardState, int>>{
             {vk::kEscape, kAlt, kUp, 27},
             {vk::kUp, kAlt, kUp, 28},
             {vk::kDown, kAlt, kUp, 29},
             {vk::kLeft, kAlt, kUp, 30},
             {vk::kRight, kAlt, kUp, 31},
             {vk::kOemPeriod, TShiftState{false, true, true}, kUp, 96},
             {vk::kOem1, TShiftState{false, true, true}, kUp, 123},
             {vk::kOem5, TShiftState{true, true, false}, kShiftDown, 124},
             {vk::kOem3, kAlt, kUp, 125},
             {vk::kBack, kAlt, kUp, 126},
             {vk::kTab, kAlt, kUp, 127},
             {vk::kReturn, kAlt, kUp, 155},
             {vk::kBack, TShiftState{false, true, true}, kUp, 254},
         }) {
        EXPECT_EQ(TranslateKey(key, shift, keyboard), code) << key;
    }
    // Every inverse result lies in 128..154, 160..223 or 225..250.
    std::set<int> seen;
    for (std::uint16_t key = 0; key < 256; ++key) {
        for (TShiftState shift :
             {kAlt, TShiftState{true, true, false}, TShiftState{false, true, true}}) {
            for (TKeyboardState keyboard : {kUp, kShiftDown, kCaps}) {
                const int code = TranslateKey(key, shift, keyboard);
                const int plain =
                    TranslateKey(key, TShiftState{shift.shift, false, shift.ctrl}, keyboard);
                if (code != plain) {
                    EXPECT_EQ(code, plain + 128);
                    EXPECT_TRUE((code >= 128 && code <= 154) || (code >= 160 && code <= 223) ||
                                (code >= 225 && code <= 250))
                        << code;
                }
            }
        }
    }
}

TEST(TranslateKey, TheArrowsAreTheSameWithEveryModifier) {
    for (auto [key, code] : std::vector<std::pair<std::uint16_t, int>>{
             {vk::kUp, 28}, {vk::kDown, 29}, {vk::kLeft, 30}, {vk::kRight, 31}}) {
        EXPECT_EQ(Plain(key), code);
        EXPECT_EQ(Shifted(key), code);
        EXPECT_EQ(Control(key), code);
        EXPECT_EQ(Capitals(key), code);
        EXPECT_EQ(TranslateKey(key, kAlt, kUp), code);
    }
}

} // namespace
