#include "common/text_helpers.h"

#include <gtest/gtest.h>

using telvora::ContainsNoCase;
using telvora::TrimBlanks;

TEST(TrimBlanks, RemovesOnlySpacesAtBothEnds) {
    EXPECT_EQ(TrimBlanks("  bbs.example.org  "), "bbs.example.org");
    EXPECT_EQ(TrimBlanks("Club BBS"), "Club BBS");
    EXPECT_EQ(TrimBlanks("  two  words  "), "two  words");
    EXPECT_EQ(TrimBlanks(" x"), "x");
    EXPECT_EQ(TrimBlanks("x "), "x");
}

TEST(TrimBlanks, KeepsTabsAndOtherWhiteSpace) {
    EXPECT_EQ(TrimBlanks("\thost\t"), "\thost\t");
    EXPECT_EQ(TrimBlanks(" \thost\n "), "\thost\n");
    EXPECT_EQ(TrimBlanks("\r"), "\r");
}

TEST(TrimBlanks, BlankAndEmptyTextsBecomeEmpty) {
    EXPECT_EQ(TrimBlanks(""), "");
    EXPECT_EQ(TrimBlanks(" "), "");
    EXPECT_EQ(TrimBlanks("     "), "");
}

TEST(TrimBlanks, LeavesNonAsciiBytesAlone) {
    EXPECT_EQ(TrimBlanks(" Caf\xC3\xA9 "), "Caf\xC3\xA9");
    // A UTF-8 no-break space is not a blank.
    EXPECT_EQ(TrimBlanks("\xC2\xA0x\xC2\xA0"), "\xC2\xA0x\xC2\xA0");
}

TEST(ContainsNoCase, FindsPartInAnyLetterCaseAnywhere) {
    EXPECT_TRUE(ContainsNoCase("Club BBS-PORT", "-PORT"));
    EXPECT_TRUE(ContainsNoCase("club bbs-port", "-PORT"));
    EXPECT_TRUE(ContainsNoCase("-Port at the start", "-pOrT"));
    EXPECT_TRUE(ContainsNoCase("in the-pORt middle", "-PORT"));
    EXPECT_TRUE(ContainsNoCase("anything", ""));
    EXPECT_TRUE(ContainsNoCase("", ""));
}

TEST(ContainsNoCase, RejectsNearMisses) {
    EXPECT_FALSE(ContainsNoCase("Club BBS PORT", "-PORT"));
    EXPECT_FALSE(ContainsNoCase("Club BBS-POR", "-PORT"));
    EXPECT_FALSE(ContainsNoCase("", "-PORT"));
    EXPECT_FALSE(ContainsNoCase("-PORT", "-PORTS"));
    // Only A..Z fold: '@' (just below 'A') must not match '`' (just below 'a').
    EXPECT_FALSE(ContainsNoCase("@", "`"));
    EXPECT_FALSE(ContainsNoCase("[", "{"));
}

TEST(ContainsNoCase, FoldsAsciiLettersOnly) {
    EXPECT_TRUE(ContainsNoCase("CAF\xC3\xA9", "caf"));
    // É (C3 89) and é (C3 A9) are different bytes and are not folded.
    EXPECT_FALSE(ContainsNoCase("CAF\xC3\x89", "caf\xC3\xA9"));
}

TEST(ParseWholeNumber, TakesDigitsAloneWithinTheBound) {
    using telvora::ParseWholeNumber;
    const struct {
        const char* text;
        int most;
        std::optional<int> value;
    } cases[] = {
        {"0", 99, 0},
        {"99", 99, 99},
        {"007", 99, 7},
        {"100", 99, {}},
        {"", 99, {}},
        {"-1", 99, {}},
        {"+5", 99, {}},
        {"-0", 99, {}},
        {" 5", 99, {}},
        {"5 ", 99, {}},
        {"5x", 99, {}},
        {"2147483647", std::numeric_limits<int>::max(), 2147483647},
        {"2147483648", std::numeric_limits<int>::max(), {}},
    };
    for (const auto& row : cases) {
        EXPECT_EQ(ParseWholeNumber(row.text, row.most), row.value) << "'" << row.text << "'";
    }
}
