#include "keyboard/key_reference.h"

#include <utility>

namespace telvora {

namespace {

struct TKeyRun {
    std::uint16_t first;
    std::uint16_t last;
    const char* name; // of the run, or of the single key
};

// Every key the tables know, as a keyboard lists them.
const std::vector<TKeyRun>& KnownKeys() {
    static const std::vector<TKeyRun> keys = {
        {'A', 'Z', "A..Z"},
        {'0', '0', "0"},
        {'1', '1', "1"},
        {'2', '2', "2"},
        {'3', '3', "3"},
        {'4', '4', "4"},
        {'5', '5', "5"},
        {'6', '6', "6"},
        {'7', '7', "7"},
        {'8', '8', "8"},
        {'9', '9', "9"},
        {vk::kOem3, vk::kOem3, "` (back quote)"},
        {vk::kOemMinus, vk::kOemMinus, "- (minus)"},
        {vk::kOemPlus, vk::kOemPlus, "= (equals)"},
        {vk::kOem4, vk::kOem4, "[ (left bracket)"},
        {vk::kOem6, vk::kOem6, "] (right bracket)"},
        {vk::kOem5, vk::kOem5, "\\ (backslash)"},
        {vk::kOem1, vk::kOem1, "; (semicolon)"},
        {vk::kOem7, vk::kOem7, "' (quote)"},
        {vk::kOemComma, vk::kOemComma, ", (comma)"},
        {vk::kOemPeriod, vk::kOemPeriod, ". (period)"},
        {vk::kOem2, vk::kOem2, "/ (slash)"},
        {vk::kSpace, vk::kSpace, "Space"},
        {vk::kReturn, vk::kReturn, "Enter"},
        {vk::kBack, vk::kBack, "Backspace"},
        {vk::kTab, vk::kTab, "Tab"},
        {vk::kEscape, vk::kEscape, "Escape"},
        {vk::kInsert, vk::kInsert, "Insert"},
        {vk::kUp, vk::kUp, "Up"},
        {vk::kDown, vk::kDown, "Down"},
        {vk::kLeft, vk::kLeft, "Left"},
        {vk::kRight, vk::kRight, "Right"},
    };
    return keys;
}

int CodeFor(std::uint16_t key, TKeyWay way) {
    switch (way) {
    case TKeyWay::Alone:
        return TranslateKey(key, {}, {});
    case TKeyWay::Shift:
        return TranslateKey(key, {.shift = true}, {.shiftHeld = true});
    case TKeyWay::CapsLock:
        return TranslateKey(key, {}, {.capsLockOn = true});
    case TKeyWay::Ctrl:
        return TranslateKey(key, {.ctrl = true}, {});
    case TKeyWay::Alt:
        return TranslateKey(key, {.alt = true}, {});
    }
    return kNoKeyCode;
}

std::string Quoted(int code) {
    return std::string(1, static_cast<char>(code));
}

// What a run of keys sends one way: the first and last code when they run
// alongside the keys, every code otherwise.
std::string RunSends(const TKeyRun& run, TKeyWay way) {
    const int first = CodeFor(run.first, way);
    if (run.first == run.last) {
        return first == kNoKeyCode ? "-" : AtasciiCodeName(first);
    }
    bool alongside = first != kNoKeyCode;
    for (std::uint16_t key = run.first; alongside && key <= run.last; ++key) {
        alongside = CodeFor(key, way) == first + (key - run.first);
    }
    if (alongside) {
        const int last = CodeFor(run.last, way);
        return AtasciiCodeName(first) + " .. " + AtasciiCodeName(last);
    }
    std::string all;
    for (std::uint16_t key = run.first; key <= run.last; ++key) {
        all += (all.empty() ? "" : ", ") + AtasciiCodeName(CodeFor(key, way));
    }
    return all;
}

// Text for a roff line: backslashes and minus signs as roff wants them, and
// nothing that a line start would take as a request.
std::string Roff(const std::string& text) {
    std::string out = text.starts_with('.') || text.starts_with('\'') ? "\\&" : "";
    for (const char c : text) {
        out += c == '\\' ? std::string("\\e") : c == '-' ? std::string("\\-") : std::string(1, c);
    }
    return out;
}

} // namespace

const char* KeyWayName(TKeyWay way) {
    switch (way) {
    case TKeyWay::Alone:
        return "Alone";
    case TKeyWay::Shift:
        return "Shift";
    case TKeyWay::CapsLock:
        return "Caps Lock";
    case TKeyWay::Ctrl:
        return "Ctrl";
    case TKeyWay::Alt:
        return "Alt";
    }
    return "";
}

std::string AtasciiCodeName(int code) {
    if (code < 0) {
        return "-";
    }
    static const std::pair<int, const char*> kNamed[] = {{27, "escape"},
                                                         {28, "cursor up"},
                                                         {29, "cursor down"},
                                                         {30, "cursor left"},
                                                         {31, "cursor right"},
                                                         {32, "space"},
                                                         {125, "clear screen"},
                                                         {126, "backspace"},
                                                         {127, "tab"},
                                                         {155, "end of line"},
                                                         {156, "delete line"},
                                                         {157, "insert line"},
                                                         {158, "clear tab stop"},
                                                         {159, "set tab stop"},
                                                         {253, "buzzer"},
                                                         {254, "delete character"},
                                                         {255, "insert character"}};
    const std::string number = std::to_string(code);
    for (const auto& [named, name] : kNamed) {
        if (named == code) {
            return number + " " + name;
        }
    }
    if (code >= 128) {
        std::string plain = AtasciiCodeName(code - 128);
        return number + " inverse" + plain.substr(plain.find(' '));
    }
    if ((code >= 33 && code <= 95) || (code >= 97 && code <= 122) || code == 124) {
        return number + " " + Quoted(code);
    }
    return number + " graphic";
}

std::vector<TKeyRow> KeyReference() {
    std::vector<TKeyRow> rows;
    for (const TKeyRun& run : KnownKeys()) {
        TKeyRow row{run.name, {}};
        for (std::size_t way = 0; way < kKeyWays.size(); ++way) {
            row.sends[way] = RunSends(run, kKeyWays[way]);
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

const std::vector<TProgramKey>& ProgramKeys() {
    static const std::vector<TProgramKey> keys = {
        {"F10", "Inverse on or off: typed codes in inverse video, as with Alt"},
        {"F11", "Full Screen on or off"},
        {"Shift+Page Up, Shift+Page Down", "Scroll the view back and forth"},
        {"Shift+End", "Back to the live screen"},
        {"Escape while a paste is typed", "Stop typing the paste"},
        {"Middle mouse button", "Type the primary selection (X11), as Paste does"},
        {"Every other key", "Nothing (function keys, Home, End, Page Up, Page Down, Delete, "
                            "the numeric keypad)"},
    };
    return keys;
}

std::string KeysManSection() {
    std::string out = ".SH KEYS\n"
                      "Each key sends one ATASCII code, as an Atari keyboard would; nothing is\n"
                      "echoed. For each key: what it sends alone, with Shift, with Caps Lock on,\n"
                      "with Ctrl and with Alt (inverse video; the Inverse key does the same).\n"
                      "A dash means that nothing is sent. Help > Keyboard shows the same table.\n";
    for (const TKeyRow& row : KeyReference()) {
        out += ".TP\n.B " + Roff(row.key) + "\n";
        std::string line;
        for (std::size_t way = 0; way < kKeyWays.size(); ++way) {
            line += (way == 0 ? "" : "; ") + std::string(KeyWayName(kKeyWays[way])) + ": " +
                    row.sends[way];
        }
        out += Roff(line) + "\n";
    }
    out += ".PP\nKeys the program itself takes:\n";
    for (const TProgramKey& key : ProgramKeys()) {
        out += ".TP\n.B " + Roff(key.key) + "\n" + Roff(key.does) + "\n";
    }
    return out;
}

} // namespace telvora
