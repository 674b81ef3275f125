#pragma once

#include <cstdint>

namespace telvora {

// Windows virtual-key numbers, which the translation tables are written in.
namespace vk {
inline constexpr std::uint16_t kBack = 8;
inline constexpr std::uint16_t kTab = 9;
inline constexpr std::uint16_t kReturn = 13;
inline constexpr std::uint16_t kEscape = 27;
inline constexpr std::uint16_t kSpace = 32;
inline constexpr std::uint16_t kLeft = 37;
inline constexpr std::uint16_t kUp = 38;
inline constexpr std::uint16_t kRight = 39;
inline constexpr std::uint16_t kDown = 40;
inline constexpr std::uint16_t kInsert = 45;
inline constexpr std::uint16_t kDelete = 46;
inline constexpr std::uint16_t kF1 = 112;
inline constexpr std::uint16_t kOem1 = 186;      // ; :
inline constexpr std::uint16_t kOemPlus = 187;   // = +
inline constexpr std::uint16_t kOemComma = 188;  // , <
inline constexpr std::uint16_t kOemMinus = 189;  // - _
inline constexpr std::uint16_t kOemPeriod = 190; // . >
inline constexpr std::uint16_t kOem2 = 191;      // / ?
inline constexpr std::uint16_t kOem3 = 192;      // ` ~
inline constexpr std::uint16_t kOem4 = 219;      // [ {
inline constexpr std::uint16_t kOem5 = 220;      // \ |
inline constexpr std::uint16_t kOem6 = 221;      // ] }
inline constexpr std::uint16_t kOem7 = 222;      // ' "
} // namespace vk

// The modifiers of a key event that the translation reads.
struct TShiftState {
    bool shift = false;
    bool alt = false;
    bool ctrl = false;
};

// The keyboard at the moment of the key press: the Shift key itself held,
// Caps Lock on.
struct TKeyboardState {
    bool shiftHeld = false;
    bool capsLockOn = false;
};

inline constexpr int kNoKeyCode = -1;

// The ATASCII code an Atari keyboard gives for the key, or kNoKeyCode. Shift
// or Caps Lock give capitals and the shifted signs, Ctrl the control graphics
// and the editing keys, Alt the inverse video of the result.
int TranslateKey(std::uint16_t key, TShiftState shift, TKeyboardState keyboard);

} // namespace telvora
