// While a transfer waits on the network the window repaints, takes input and can be closed;
// a dropped download connection is tried again.
#include "fixtures.h"
#include "quit_signal.h"
#include "shell.h"
#include "window_fixture.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProgressBar>
#include <QTimer>

namespace {

// Margins for a loaded two-core machine; the window's own slices are 40 ms.
// The window repaints when its thread gets to its events.
constexpr qint64 LongestEventGapMs = 150;
constexpr qint64 CloseActedOnMs = 200;

class LiveWindowTest : public WindowTest {
protected:
    // A timer every 20 ms, as a repaint or an animation asks for: the longest time between
    // its ticks tells how long the window's thread left its events waiting.
    void WatchEvents()
    {
        tickClock_.start();
        lastTick_ = 0;
        QObject::connect(&ticker_, &QTimer::timeout, form.get(), [this] {
            const qint64 now = tickClock_.elapsed();
            if (!closeClock_.isValid())
                longestGap_ = std::max(longestGap_, now - lastTick_);
            lastTick_ = now;
            ++ticks_;
        });
        ticker_.start(20);
    }
    // Closes the window as the user would, once the window's thread gets to it.
    void CloseAfter(int ms)
    {
        QTimer::singleShot(ms, form.get(), [this] {
            closeClock_.start();
            form->close();
        });
    }
    qint64 SinceClose() const { return closeClock_.isValid() ? closeClock_.elapsed() : -1; }
    QString Log() const
    {
        QFile file(Download() + QStringLiteral("installer.log"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    QTimer ticker_;
    QElapsedTimer tickClock_;
    QElapsedTimer closeClock_;
    qint64 lastTick_ = 0;
    qint64 longestGap_ = 0;
    int ticks_ = 0;
};

TEST_F(LiveWindowTest, ASilentServiceAtOpeningNeitherFreezesNorHoldsTheWindow)
{
    const QByteArray silentAt[] = {"/banner", "/notice", ListTarget};
    for (const QByteArray &target : silentAt) {
        SCOPED_TRACE(target.toStdString());
        ResetQuit();
        notices.clear();
        longestGap_ = 0;
        ticks_ = 0;
        closeClock_.invalidate();
        server.On(target, ScriptServer::Silent());
        Create();
        form->show();
        WatchEvents();
        CloseAfter(600);
        form->FormShow();
        EXPECT_LT(SinceClose(), CloseActedOnMs);
        EXPECT_GE(SinceClose(), 0) << "the close was never taken";
        EXPECT_LT(longestGap_, LongestEventGapMs);
        EXPECT_GT(ticks_, 5);
        EXPECT_TRUE(notices.isEmpty()) << notices.join(u'\n').toStdString();
        EXPECT_TRUE(QuitRequested());
        EXPECT_EQ(form->ComboBox1->count(), 0);
        server.On(target, ScriptServer::Status("HTTP/1.1 404 Not Found"));
        form.reset();
    }
}

TEST_F(LiveWindowTest, TheBannerCanBeClickedWhileTheServiceIsSilent)
{
    server.On("/notice", ScriptServer::Silent());
    Create();
    form->show();
    bool clicked = false;
    QObject::connect(form->Image2ad, &TImage::Click, form.get(), [&] { clicked = true; });
    QTimer::singleShot(300, form.get(), [this] { emit form->Image2ad->Click(); });
    CloseAfter(600);
    form->FormShow();
    EXPECT_TRUE(clicked);
}

TEST_F(LiveWindowTest, ClosingDuringASilentLookupEndsTheRunWithoutABox)
{
    server.On(ListTarget, ScriptServer::Ok("1`Version one"));
    server.On(LookupTarget, ScriptServer::Silent());
    Open();
    form->ComboBox1->setCurrentIndex(0);
    WatchEvents();
    CloseAfter(500);
    form->Button1Click();
    EXPECT_LT(SinceClose(), CloseActedOnMs);
    EXPECT_LT(longestGap_, LongestEventGapMs);
    EXPECT_GT(ticks_, 5);
    EXPECT_TRUE(notices.isEmpty()) << notices.join(u'\n').toStdString();
}

TEST_F(LiveWindowTest, ClosingDuringAStalledDownloadCancelsAtOnce)
{
    const QByteArray archive =
        StoredZip({{"setup.sh", MarkerScript(), 0755}, {"big.bin", QByteArray(4 << 20, 'x')}});
    ServeVersion("/soft/setup.zip", {});
    ScriptServer::Reply stalled = ScriptServer::Ok(archive);
    stalled.holdAfter = 512 << 10;
    server.On("/soft/setup.zip", stalled);
    Open();
    form->ComboBox1->setCurrentIndex(0);
    // Well into the stall: the body's first part arrives at once.
    QObject::connect(form->loading, &QProgressBar::valueChanged, form.get(), [this](int value) {
        if (value > 0 && !tickClock_.isValid()) {
            WatchEvents();
            CloseAfter(500);
        }
    });
    form->Button1Click();
    EXPECT_LT(SinceClose(), CloseActedOnMs);
    EXPECT_GE(SinceClose(), 0) << "the close was never taken";
    EXPECT_LT(longestGap_, LongestEventGapMs);
    EXPECT_GT(ticks_, 5);
    EXPECT_TRUE(notices.isEmpty()) << notices.join(u'\n').toStdString();
    EXPECT_FALSE(QFileInfo::exists(Download() + QStringLiteral("setup.zip.tmp")));
    EXPECT_FALSE(QFileInfo::exists(Download() + QStringLiteral("setup.zip")));
    EXPECT_TRUE(QDir(Download() + QStringLiteral("setup")).isEmpty());
    EXPECT_TRUE(Log().contains(QStringLiteral("download cancelled"))) << Log().toStdString();
}

TEST_F(LiveWindowTest, ADownloadCutTwiceIsTriedAgainAndInstalls)
{
    const QByteArray archive =
        StoredZip({{"setup.sh", MarkerScript(), 0755}, {"data.bin", QByteArray(300000, 'd')}});
    ServeVersion("/soft/setup.zip", archive);
    ScriptServer::Reply cut = ScriptServer::Ok(archive, "application/zip");
    cut.cutAfter = archive.size() / 2;
    server.Next("/soft/setup.zip", cut);
    server.Next("/soft/setup.zip", cut);
    Open();
    form->ComboBox1->setCurrentIndex(0);
    QStringList rateTexts;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, form.get(), [&] {
        if (rateTexts.isEmpty() || rateTexts.last() != form->rateLabel->text())
            rateTexts << form->rateLabel->text();
    });
    watch.start(10);
    form->Button1Click();
    EXPECT_TRUE(notices.isEmpty()) << notices.join(u'\n').toStdString();
    EXPECT_TRUE(AwaitFile(Download() + QStringLiteral("setup/ran.txt")));
    EXPECT_EQ(server.Requests().count("/soft/setup.zip"), 3);
    EXPECT_TRUE(rateTexts.contains(QStringLiteral("网络中断，正在重新连接（第 1 次）…")))
        << rateTexts.join(u'|').toStdString();
    EXPECT_TRUE(rateTexts.contains(QStringLiteral("网络中断，正在重新连接（第 2 次）…")))
        << rateTexts.join(u'|').toStdString();
    const QString log = Log();
    EXPECT_TRUE(log.contains(QStringLiteral("retry 1 of 5"))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("retry 2 of 5"))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("downloaded %1 bytes").arg(archive.size()))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("starting the setup program"))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("install version 1 (Version one)"))) << log.toStdString();
}

} // namespace
