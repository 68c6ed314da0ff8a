// While a transfer waits on the network the window repaints, takes input and can be closed;
// a dropped download connection is tried again; unpacking runs while the window stays alive.
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
#include <QThread>
#include <QTimer>

#include <algorithm>

namespace {

// Margins for a loaded two-core machine; the window pumps every 40 ms while it waits on the
// network, every 20 ms while it unpacks or pauses.
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
            barAtClose_ = form->loading->value();
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
    int barAtClose_ = -1;
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
        StoredZip({{SetupName, MarkerScript(), 0755}, {"big.bin", QByteArray(4 << 20, 'x')}});
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
    // The window shows, during the stall, all that arrived before it.
    EXPECT_EQ(barAtClose_, (512 << 10) / 100);
    EXPECT_TRUE(notices.isEmpty()) << notices.join(u'\n').toStdString();
    EXPECT_FALSE(QFileInfo::exists(Download() + QStringLiteral("setup.zip.tmp")));
    EXPECT_FALSE(QFileInfo::exists(Download() + QStringLiteral("setup.zip")));
    EXPECT_TRUE(QDir(Download() + QStringLiteral("setup")).isEmpty());
    EXPECT_TRUE(Log().contains(QStringLiteral("download cancelled"))) << Log().toStdString();
}

TEST_F(LiveWindowTest, ADownloadCutTwiceIsTriedAgainAndInstalls)
{
    const QByteArray archive =
        StoredZip({{SetupName, MarkerScript(), 0755}, {"data.bin", QByteArray(300000, 'd')}});
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

const QString UnpackingText =
    QStringLiteral("安装程序获取成功，正在解压，耗时根据您电脑性能，请等待一会哦....");

// Many small files: seconds of creating files on a loaded machine, little to download.
QByteArray ManyEntriesZip()
{
    QList<ZipItem> items{{SetupName, MarkerScript(), 0755}};
    for (int i = 0; i < 20000; ++i)
        items.append({"d" + QByteArray::number(i % 50) + "/f" + QByteArray::number(i), QByteArray(64, 'z')});
    return StoredZip(items);
}

class UnpackingWindowTest : public LiveWindowTest {
protected:
    // Starts watching the window's events once the unpacking text shows, and records the
    // percentages shown under the bar from then on. With closeAfterMs, the window is closed
    // that long after the first entry (the setup program) is on disk, however long reading
    // the archive's directory took before it.
    void WatchUnpacking(int closeAfterMs = -1)
    {
        QObject::connect(&poll_, &QTimer::timeout, form.get(), [this, closeAfterMs] {
            if (form->label1->text() != UnpackingText)
                return;
            if (!tickClock_.isValid())
                WatchEvents();
            if (closeAfterMs >= 0 && !closeArmed_ &&
                QFileInfo::exists(Download() + "setup/" + QString::fromLatin1(SetupName))) {
                CloseAfter(closeAfterMs);
                closeArmed_ = true;
            }
            if (percents_.isEmpty() || percents_.last() != form->bfb->text())
                percents_ << form->bfb->text();
        });
        poll_.start(5);
    }
    bool UnpackingStarted() const { return tickClock_.isValid(); }

    QTimer poll_;
    QStringList percents_;
    bool closeArmed_ = false;
};

TEST_F(UnpackingWindowTest, TheWindowStaysAliveAndShowsProgressWhileUnpacking)
{
    ServeVersion("/soft/setup.zip", ManyEntriesZip());
    Open();
    form->ComboBox1->setCurrentIndex(0);
    WatchUnpacking();
    form->Button1Click();
    const qint64 unpackingMs = tickClock_.isValid() ? tickClock_.elapsed() : -1;
    ASSERT_TRUE(UnpackingStarted());
    EXPECT_TRUE(notices.isEmpty()) << notices.join(u'\n').toStdString();
    EXPECT_TRUE(AwaitFile(Download() + QStringLiteral("setup/ran.txt")));
    EXPECT_TRUE(QFileInfo::exists(Download() + QStringLiteral("setup/d49/f19999")));
    // The one-second pause before the setup program starts counts here too.
    EXPECT_LT(longestGap_, LongestEventGapMs) << "over " << unpackingMs << " ms";
    EXPECT_GT(ticks_, 10);
    ASSERT_FALSE(percents_.isEmpty());
    EXPECT_EQ(percents_.last(), QStringLiteral("100%")) << percents_.join(u' ').toStdString();
    const bool between = std::any_of(percents_.begin(), percents_.end(), [](const QString &text) {
        const int value = text.chopped(1).toInt();
        return value > 0 && value < 100;
    });
    EXPECT_TRUE(between) << percents_.join(u' ').toStdString();
    EXPECT_TRUE(Log().contains(QStringLiteral("unpacked"))) << Log().toStdString();
}

TEST_F(UnpackingWindowTest, ClosingDuringUnpackingEndsTheRunAndKeepsWhatWasUnpacked)
{
    ServeVersion("/soft/setup.zip", ManyEntriesZip());
    Open();
    form->ComboBox1->setCurrentIndex(0);
    WatchUnpacking(100);
    form->Button1Click();
    ASSERT_TRUE(UnpackingStarted());
    EXPECT_GE(SinceClose(), 0) << "the close was never taken";
    EXPECT_LT(SinceClose(), CloseActedOnMs);
    EXPECT_LT(longestGap_, LongestEventGapMs);
    EXPECT_TRUE(notices.isEmpty()) << notices.join(u'\n').toStdString();
    const QString log = Log();
    ASSERT_TRUE(log.contains(QStringLiteral("unpacking cancelled by closing the window")))
        << log.toStdString();
    EXPECT_FALSE(log.contains(QStringLiteral("starting the setup program"))) << log.toStdString();
    EXPECT_FALSE(QFileInfo::exists(Download() + QStringLiteral("setup.zip")));
    EXPECT_TRUE(QFileInfo::exists(Download() + "setup/" + QString::fromLatin1(SetupName)));
    EXPECT_FALSE(QFileInfo::exists(Download() + QStringLiteral("setup/d49/f19999")));
    // Nothing was started: the setup program would have left its mark by now.
    QThread::msleep(300);
    EXPECT_FALSE(QFileInfo::exists(Download() + QStringLiteral("setup/ran.txt")));
}

} // namespace
