// The progress handlers of the real window: the percentages and the bar as a table, and
// downloads of known and unknown length.
#include "fixtures.h"
#include "http_client.h"
#include "window_fixture.h"

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QRandomGenerator>

namespace {

struct ProgressCase {
    qint64 total;
    int maximum;
    std::vector<std::tuple<qint64, const char *, int>> steps; // done, bfb, bar position
};

class ProgressTable : public WindowTest, public testing::WithParamInterface<ProgressCase> {};

TEST_P(ProgressTable, ShowsWholePercentagesAndHundredsOfBytes)
{
    Open();
    HttpClient sender;
    form->onWorkBegin(sender, wmRead, GetParam().total);
    EXPECT_EQ(form->loading->minimum(), 0);
    EXPECT_EQ(form->loading->maximum(), GetParam().maximum);
    EXPECT_EQ(form->bfb->text(), QStringLiteral("0.00%")); // untouched until the first progress
    for (const auto &[done, text, position] : GetParam().steps) {
        form->onWork(sender, wmRead, done);
        EXPECT_EQ(form->bfb->text(), QString::fromLatin1(text)) << done;
        EXPECT_EQ(form->loading->value(), position) << done;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProgressTable,
    testing::Values(
        ProgressCase{2000, 20, {{500, "25%", 5}, {1999, "99%", 19}, {2000, "100%", 20}}},
        ProgressCase{100, 1, {{3, "2%", 0}, {29, "28%", 0}, {57, "56%", 0}, {100, "100%", 1}}},
        ProgressCase{3 * 1024 * 1024, 31457, {{1024 * 1024, "33%", 10485}, {3 * 1024 * 1024, "100%", 31457}}},
        // Beyond 2^24 units the bar holds the nearest float.
        ProgressCase{20LL << 30, 214748368, {{10LL << 30, "50%", 107374184}}}));

TEST_F(WindowTest, ANewTransferResetsTheRangeButNotTheLabel)
{
    Open();
    HttpClient sender;
    form->onWorkBegin(sender, wmRead, 400); // a redirect reply's body
    form->onWork(sender, wmRead, 100);
    form->onWorkBegin(sender, wmRead, 10000);
    EXPECT_EQ(form->loading->maximum(), 100);
    EXPECT_EQ(form->bfb->text(), QStringLiteral("25%"));
}

TEST_F(WindowTest, UnknownLengthShowsABusyBarAndTheAmountReceived)
{
    Open();
    HttpClient sender;
    form->onWorkBegin(sender, wmRead, 0);
    EXPECT_EQ(form->loading->minimum(), 0);
    EXPECT_EQ(form->loading->maximum(), 0);
    form->onWork(sender, wmRead, 1536);
    EXPECT_EQ(form->bfb->text(), QStringLiteral("1.5 KB"));
    form->onWork(sender, wmRead, 1572864);
    EXPECT_EQ(form->bfb->text(), QStringLiteral("1.5 MB"));
}

QByteArray Noise(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(7);
    generator.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

TEST_F(WindowTest, ADownloadOfUnknownLengthCompletes)
{
    const QByteArray archive =
        StoredZip({{"setup.sh", MarkerScript(), 0755}, {"big.bin", Noise(1536 * 1024)}});
    ServeVersion("/soft/setup.zip", {});
    server.On("/soft/setup.zip", ScriptServer::UntilClose(archive));
    Open();
    form->ComboBox1->setCurrentIndex(0);
    form->Button1Click();
    EXPECT_TRUE(notices.isEmpty()) << notices.join(u'\n').toStdString();
    EXPECT_EQ(form->loading->maximum(), 0);
    EXPECT_EQ(form->bfb->text(), QStringLiteral("1.5 MB"));
    EXPECT_TRUE(AwaitFile(Download() + QStringLiteral("setup/ran.txt")));
}

TEST_F(WindowTest, ADownloadOfKnownLengthEndsAtItsFullBar)
{
    const QByteArray archive =
        StoredZip({{"setup.sh", MarkerScript(), 0755}, {"big.bin", Noise(1536 * 1024)}});
    ServeVersion("/soft/setup.zip", archive);
    Open();
    form->ComboBox1->setCurrentIndex(0);
    form->Button1Click();
    EXPECT_TRUE(notices.isEmpty()) << notices.join(u'\n').toStdString();
    EXPECT_EQ(form->loading->maximum(), archive.size() / 100);
    EXPECT_EQ(form->loading->value(), archive.size() / 100);
    EXPECT_EQ(form->bfb->text(), QStringLiteral("100%"));
}

} // namespace
