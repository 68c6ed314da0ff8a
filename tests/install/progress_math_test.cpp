#include "progress_math.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

struct PercentCase {
    qint64 done, total, percent;
};

class Percentages : public testing::TestWithParam<PercentCase> {};

TEST_P(Percentages, AreTruncatedFromTheExactProduct)
{
    EXPECT_EQ(WholePercent(GetParam().done, GetParam().total), GetParam().percent);
}

INSTANTIATE_TEST_SUITE_P(Table, Percentages,
                         testing::Values(PercentCase{0, 100, 0}, PercentCase{3, 100, 2},
                                         PercentCase{29, 100, 28}, PercentCase{100, 100, 100},
                                         PercentCase{500, 2000, 25}, PercentCase{1999, 2000, 99},
                                         PercentCase{2000, 2000, 100}, PercentCase{1, 3, 33},
                                         PercentCase{2, 3, 66}, PercentCase{57, 100, 56},
                                         PercentCase{536870911, 536870912, 99},
                                         PercentCase{qint64(1) << 40, qint64(1) << 41, 50}));

struct UnitsCase {
    qint64 bytes;
    int units;
};

class BarUnitsTable : public testing::TestWithParam<UnitsCase> {};

TEST_P(BarUnitsTable, CountHundredsOfBytesThroughAFloat)
{
    EXPECT_EQ(BarUnits(GetParam().bytes), GetParam().units);
}

INSTANTIATE_TEST_SUITE_P(Table, BarUnitsTable,
                         testing::Values(UnitsCase{0, 0}, UnitsCase{99, 0}, UnitsCase{100, 1},
                                         UnitsCase{1999, 19}, UnitsCase{2000, 20},
                                         // 2^24 + 1 units is the first value a float cannot hold
                                         UnitsCase{(16777216LL + 1) * 100, 16777216},
                                         UnitsCase{LLONG_MAX, INT_MAX}));

struct SizeCase {
    qint64 bytes;
    const char *text;
};

class ReadableSizes : public testing::TestWithParam<SizeCase> {};

TEST_P(ReadableSizes, UseTheLargestFittingUnit)
{
    EXPECT_EQ(ReadableSize(GetParam().bytes), QString::fromLatin1(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(Table, ReadableSizes,
                         testing::Values(SizeCase{0, "0 B"}, SizeCase{1023, "1023 B"},
                                         SizeCase{1024, "1.0 KB"}, SizeCase{1536, "1.5 KB"},
                                         SizeCase{1048575, "1.0 MB"}, SizeCase{1572864, "1.5 MB"},
                                         SizeCase{3LL << 30, "3.0 GB"}));

} // namespace
