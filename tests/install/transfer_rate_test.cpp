#include "transfer_rate.h"

#include <gtest/gtest.h>

namespace {

TEST(RateText, WritesTheSpeedAndTheTimeLeft)
{
    const struct {
        double speed;
        qint64 remaining;
        const char *text;
    } cases[] = {
        {2.4 * 1024 * 1024, 95630131, "2.4 MB/s · 剩余 0:38"},
        {512 * 1024, 1, "512.0 KB/s · 剩余 0:01"},
        {100, 100 * 3725, "100 B/s · 剩余 1:02:05"},
        {1000, 0, "1000 B/s · 剩余 0:00"},
        {0, 5000, "0 B/s"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(RateText(c.speed, c.remaining), QString::fromUtf8(c.text)) << c.text;
}

TEST(TransferRate, ShowsAfterHalfASecondAtMostFourTimesASecond)
{
    TransferRate rate;
    rate.Start(10000000);
    int shown = 0;
    std::optional<QString> last;
    // 1 MiB per second in steps of 10 ms, from byte 5,000,000 on (a resumed download).
    for (qint64 ms = 0; ms <= 2000; ms += 10) {
        const std::optional<QString> text = rate.Update(5000000 + ms * 1048576 / 1000, ms);
        if (ms < TransferRate::FirstShowMs) {
            EXPECT_FALSE(text) << ms;
        }
        if (text) {
            ++shown;
            last = text;
        }
    }
    EXPECT_GE(shown, 5);
    EXPECT_LE(shown, 2000 / 250 + 1);
    // The bytes there before the first progress are no speed: 1.0 MB/s, not thousands.
    ASSERT_TRUE(last);
    EXPECT_TRUE(last->startsWith(QStringLiteral("1.0 MB/s · 剩余 0:0"))) << last->toStdString();
}

TEST(TransferRate, FollowsTheRecentSpeed)
{
    TransferRate rate;
    rate.Start(1 << 30);
    qint64 done = 0;
    std::optional<QString> last;
    // Ten seconds at 100 KiB/s, then four at 1 MiB/s: the last three seconds decide.
    for (qint64 ms = 0; ms <= 14000; ms += 50) {
        done += ms <= 10000 ? 5120 : 52429;
        if (std::optional<QString> text = rate.Update(done, ms))
            last = text;
    }
    ASSERT_TRUE(last);
    EXPECT_TRUE(last->startsWith(QStringLiteral("1.0 MB/s"))) << last->toStdString();
}

TEST(TransferRate, SaysNothingForAnUnknownLength)
{
    TransferRate rate;
    rate.Start(0);
    for (qint64 ms = 0; ms <= 2000; ms += 100)
        EXPECT_FALSE(rate.Update(ms * 1000, ms));
}

} // namespace
