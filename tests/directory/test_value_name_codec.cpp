#include "directory/value_name_codec.h"

#include <gtest/gtest.h>

#include <string>

namespace telvora {
namespace {

bool IsPlainKeyChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
}

TEST(ValueNameCodec, AwkwardNamesRoundTripThroughPlainCharacters) {
    const std::string names[] = {"Club BBS",
                                 "a/b\\c",
                                 "key=value",
                                 "100% \"quoted\" 'single'",
                                 "Caf\xC3\xA9 \xC3\x9C\xC3\x9F \xE6\x97\xA5\xE6\x9C\xAC",
                                 "_5F already looks escaped_",
                                 "[General]",
                                 "#;comment",
                                 " lead and trail ",
                                 "-PORT",
                                 std::string("nul\0byte", 8),
                                 "",
                                 "_"};
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const std::string stored = EscapeValueName(name);
        EXPECT_FALSE(stored.empty());
        for (char c : stored) {
            EXPECT_TRUE(IsPlainKeyChar(c)) << "byte " << int(static_cast<unsigned char>(c));
        }
        EXPECT_EQ(UnescapeValueName(stored), name);
    }
}

TEST(ValueNameCodec, KeepsLettersDigitsAndDashReadable) {
    EXPECT_EQ(EscapeValueName("Club BBS-PORT"), "Club_20BBS-PORT");
    EXPECT_EQ(EscapeValueName("x_y"), "x_5Fy");
    EXPECT_EQ(EscapeValueName(""), "_");
}

TEST(ValueNameCodec, HandEditedNamesAreTakenLiterallyWhereNotEscapes) {
    EXPECT_EQ(UnescapeValueName("Plain Name"), "Plain Name");
    EXPECT_EQ(UnescapeValueName("a_2"), "a_2");
    EXPECT_EQ(UnescapeValueName("a_zz"), "a_zz");
    EXPECT_EQ(UnescapeValueName("a_20b_2f"), "a b/");
    EXPECT_EQ(UnescapeValueName("__"), "__");
}

} // namespace
} // namespace telvora
