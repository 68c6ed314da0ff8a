// The progress handlers of the real window: the percentages and the bar as a table, and
// downloads of known and unknown length, whose bar the unpacking then takes over.
#include "fixtures.h"
#include "http_client.h"
#include "window_fixture.h"

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QTimer>

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

// What the bar and the percentage showed when the download ended: the last state the flow's
// event pumps let through before the unpacking text replaced the download's.
class DownloadEnd {
public:
    explicit DownloadEnd(TForm2 &form)
    {
        const QString unpacking =
            QStringLiteral("安装程序获取成功，正在解压，耗时根据您电脑性能，请等待一会哦....");
        QObject::connect(&every_, &QTimer::timeout, &form, [this, &form, unpacking] {
            if (form.label1->text() == unpacking) {
                every_.stop();
                return;
            }
            maximum = form.loading->maximum();
            value = form.loading->value();
            bfb = form.bfb->text();
        });
        every_.start(0);
    }
    int maximum = -1;
    int value = -1;
    QString bfb;

private:
    QTimer every_;
};

TEST_F(WindowTest, ADownloadOfUnknownLengthCompletes)
{
    const QByteArray archive =
        StoredZip({{SetupName, MarkerScript(), 0755}, {"big.bin", Noise(1536 * 1024)}});
    ServeVersion("/soft/setup.zip", {});
    server.On("/soft/setup.zip", ScriptServer::UntilClose(archive));
    Open();
    form->ComboBox1->setCurrentIndex(0);
    DownloadEnd end(*form);
    form->Button1Click();
    EXPECT_TRUE(notices.isEmpty()) << notices.join(u'\n').toStdString();
    EXPECT_EQ(end.maximum, 0);
    EXPECT_EQ(end.bfb, QStringLiteral("1.5 MB"));
    EXPECT_EQ(form->bfb->text(), QStringLiteral("100%")); // then unpacked in full
    EXPECT_TRUE(AwaitFile(Download() + QStringLiteral("setup/ran.txt")));
}

TEST_F(WindowTest, ADownloadOfKnownLengthEndsAtItsFullBar)
{
    const QByteArray archive =
        StoredZip({{SetupName, MarkerScript(), 0755}, {"big.bin", Noise(1536 * 1024)}});
    ServeVersion("/soft/setup.zip", archive);
    Open();
    form->ComboBox1->setCurrentIndex(0);
    DownloadEnd end(*form);
    form->Button1Click();
    EXPECT_TRUE(notices.isEmpty()) << notices.join(u'\n').toStdString();
    EXPECT_EQ(end.maximum, archive.size() / 100);
    EXPECT_EQ(end.value, archive.size() / 100);
    EXPECT_EQ(end.bfb, QStringLiteral("100%"));
    // The unpacking's bar: the bytes written, in full.
    const qint64 unpacked = MarkerScript().size() + 1536 * 1024;
    EXPECT_EQ(form->loading->maximum(), unpacked / 100);
    EXPECT_EQ(form->loading->value(), unpacked / 100);
    EXPECT_EQ(form->bfb->text(), QStringLiteral("100%"));
}

} // namespace
