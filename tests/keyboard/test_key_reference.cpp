#include "keyboard/key_reference.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

using namespace telvora;

namespace {

const TKeyRow& RowOf(const std::string& key) {
    static const std::vector<TKeyRow> rows = KeyReference();
    for (const TKeyRow& row : rows) {
        if (row.key == key) {
            return row;
        }
    }
    throw std::runtime_error("no row for " + key);
}

// The columns: alone, Shift, Caps Lock, Ctrl, Alt.
TEST(KeyReference, SaysWhatTheTranslationSends) {
    const struct {
        const char* key;
        std::array<const char*, 5> sends;
    } cases[] = {
        {"A..Z",
         {"97 a .. 122 z", "65 A .. 90 Z", "65 A .. 90 Z", "1 graphic .. 26 graphic",
          "225 inverse a .. 250 inverse z"}},
        {"' (quote)", {"39 '", "34 \"", "34 \"", "39 '", "167 inverse '"}},
        {"Backspace",
         {"126 backspace", "156 delete line", "126 backspace", "254 delete character",
          "126 backspace"}},
        {"Insert", {"-", "157 insert line", "-", "255 insert character", "-"}},
    };
    for (const auto& expected : cases) {
        const TKeyRow& row = RowOf(expected.key);
        for (std::size_t way = 0; way < kKeyWays.size(); ++way) {
            EXPECT_EQ(row.sends[way], expected.sends[way])
                << expected.key << " " << KeyWayName(kKeyWays[way]);
        }
    }
}

TEST(KeyReference, TheManPageHasTheKeysSectionTheTranslationMakes) {
    std::ifstream file(TELVORA_SOURCE_DIR "/resources/desktop/telvora.1");
    ASSERT_TRUE(file) << "no man page";
    std::stringstream whole;
    whole << file.rdbuf();
    const std::string page = whole.str();
    const std::size_t begin = page.find(".SH KEYS\n");
    const std::size_t end = page.find("\n.SH ", begin + 1);
    const std::string section =
        begin == std::string::npos ? "" : page.substr(begin, end - begin + 1);
    EXPECT_EQ(section, KeysManSection()) << "the man page's KEYS section should read:\n"
                                         << KeysManSection();
}

} // namespace
