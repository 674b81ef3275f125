#include "app/command_line.h"

#include <gtest/gtest.h>

using namespace telvora;

namespace {

CommandLineResult Parse(std::vector<std::string> arguments) {
    return ParseCommandLine(arguments);
}

TEST(CommandLine, NothingGivenMeansAPlainStart) {
    const auto result = Parse({});
    ASSERT_TRUE(result.Ok());
    EXPECT_FALSE(result.options.moviePath);
    EXPECT_FALSE(result.options.speed);
    EXPECT_FALSE(result.options.headless);
}

TEST(CommandLine, EveryOptionIsUnderstood) {
    const auto result =
        Parse({"--headless", "--speed", "1200", "--size=large", "--exit-when-done", "--exit-after",
               "2.5", "--dump-screen", "--screenshot", "out.png", "--play", "movie.ata"});
    ASSERT_TRUE(result.Ok()) << result.error;
    const auto& o = result.options;
    EXPECT_TRUE(o.headless);
    EXPECT_EQ(o.speed, 1200);
    EXPECT_EQ(o.fontDelta, 16);
    EXPECT_TRUE(o.exitWhenDone);
    EXPECT_DOUBLE_EQ(*o.exitAfterSeconds, 2.5);
    EXPECT_TRUE(o.dumpScreen);
    EXPECT_EQ(o.screenshotPath, "out.png");
    EXPECT_EQ(o.moviePath, "movie.ata");
}

TEST(CommandLine, SpeedsAndSizesMapToTheirMenuTags) {
    EXPECT_EQ(Parse({"--speed", "300"}).options.speed, 300);
    EXPECT_EQ(Parse({"--speed", "2400"}).options.speed, 2400);
    EXPECT_EQ(Parse({"--speed=max"}).options.speed, 999999999);
    EXPECT_EQ(Parse({"--size", "small"}).options.fontDelta, 0);
    EXPECT_EQ(Parse({"--size", "medium"}).options.fontDelta, 8);
}

TEST(CommandLine, ABareFileIsTheMovie) {
    EXPECT_EQ(Parse({"a.ata"}).options.moviePath, "a.ata");
    EXPECT_EQ(Parse({"--", "--odd-name.ata"}).options.moviePath, "--odd-name.ata");
}

TEST(CommandLine, MistakesAreReportedClearly) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--speed", "9600"}, "--speed takes 300, 600, 1200, 2400 or max, not '9600'"},
        {{"--speed"}, "option --speed needs a value"},
        {{"--size", "huge"}, "--size takes small, medium or large, not 'huge'"},
        {{"--exit-after", "soon"},
         "--exit-after takes a number of seconds from 0 to 604800, not 'soon'"},
        {{"--exit-after", "-1"},
         "--exit-after takes a number of seconds from 0 to 604800, not '-1'"},
        {{"--exit-after", "1e300"},
         "--exit-after takes a number of seconds from 0 to 604800, not '1e300'"},
        {{"--exit-after", "3000000000"},
         "--exit-after takes a number of seconds from 0 to 604800, not '3000000000'"},
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"--headless=yes"}, "option --headless takes no value"},
        {{"a.ata", "b.ata"}, "only one movie can be played: 'a.ata' and 'b.ata'"},
        {{"--play", "a.ata", "b.ata"}, "only one movie can be played: 'a.ata' and 'b.ata'"},
        {{"--screenshot="}, "--screenshot needs a file name"},
    };
    for (const auto& [arguments, message] : cases) {
        const auto result = Parse(arguments);
        EXPECT_FALSE(result.Ok()) << arguments.front();
        EXPECT_EQ(result.error, message);
    }
}

TEST(CommandLine, UsageNamesEveryOption) {
    const std::string usage = CommandLineUsage();
    for (const char* option :
         {"--play", "--speed", "--size", "--headless", "--exit-when-done", "--exit-after",
          "--dump-screen", "--screenshot", "--help", "--version"}) {
        EXPECT_NE(usage.find(option), std::string::npos) << option;
    }
}

} // namespace
