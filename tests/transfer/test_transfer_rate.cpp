#include "transfer/transfer_rate.h"

#include <gtest/gtest.h>

#include <vector>

using namespace telvora;

namespace {

struct TCount {
    const char* file;
    std::int64_t bytes;
    int atMs;
    bool rebaseFirst = false;
};

struct TRateCase {
    const char* name;
    std::vector<TCount> counts;
    std::optional<double> bytesPerSecond;
};

class TransferRate : public ::testing::TestWithParam<TRateCase> {};

void PrintTo(const TRateCase& row, std::ostream* out) {
    *out << row.name;
}

TEST_P(TransferRate, CountsOnlyTheTimeTheFilesDataWasMoving) {
    TTransferRate rate;
    const auto start = TTransferRate::TClock::now();
    for (const TCount& count : GetParam().counts) {
        if (count.rebaseFirst) {
            rate.Rebase();
        }
        rate.Count(count.file, count.bytes, start + std::chrono::milliseconds(count.atMs));
    }
    EXPECT_EQ(rate.BytesPerSecond(), GetParam().bytesPerSecond);
}

INSTANTIATE_TEST_SUITE_P(
    Counts, TransferRate,
    ::testing::Values(
        TRateCase{"NoneBeforeData", {{"a", 0, 0}, {"a", 0, 3000}}, std::nullopt},
        TRateCase{"WaitingIsNotCarrying", {{"a", 0, 0}, {"a", 0, 5000}, {"a", 1000, 6000}}, 1000},
        TRateCase{
            "AResumedFilesFirstCountIsTheBase", {{"a", 100000, 0}, {"a", 200000, 500}}, 200000},
        TRateCase{"APauseAfterTheDataKeepsTheRate",
                  {{"a", 0, 0}, {"a", 1000, 1000}, {"a", 1000, 9000}},
                  1000},
        TRateCase{"AQuestionsTimeIsLeftOut",
                  {{"a", 0, 0}, {"a", 1000, 1000}, {"a", 1000, 11000, true}, {"a", 3000, 12000}},
                  2000},
        TRateCase{"AfterAQuestionTheFirstCountIsTheBase",
                  {{"a", 0, 0}, {"a", 1000, 1000}, {"a", 1000, 11000, true}},
                  std::nullopt},
        TRateCase{"TheNextFileStartsAfresh",
                  {{"a", 0, 0}, {"a", 9000, 1000}, {"b", 0, 1000}, {"b", 500, 2000}},
                  500},
        TRateCase{"ACountThatFallsBackStartsAfresh",
                  {{"a", 0, 0}, {"a", 5000, 1000}, {"a", 2000, 2000}, {"a", 3000, 4000}},
                  500}),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace
