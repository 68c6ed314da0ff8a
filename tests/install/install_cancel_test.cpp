// Closing the window during an install, and pressing the button again while one runs.
#include "fixtures.h"
#include "shell.h"
#include "window_fixture.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QKeyEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>

namespace {

class CancelTest : public WindowTest {
protected:
    // The archive is 4 MB; the server sends its first 512 KB and then waits for the client.
    void ServeStalledDownload()
    {
        QByteArray big(4 << 20, 'x');
        archive = StoredZip({{SetupName, MarkerScript(), 0755}, {"big.bin", big}});
        ServeVersion("/soft/setup.zip", {});
        ScriptServer::Reply stalled = ScriptServer::Ok(archive);
        stalled.holdAfter = 512 << 10;
        server.On("/soft/setup.zip", stalled);
    }
    // Runs action once, from the first pump after the bar has moved.
    void OnFirstProgress(std::function<void()> action)
    {
        QObject::connect(form->loading, &QProgressBar::valueChanged, form.get(),
                         [action, done = false](int value) mutable {
                             if (done || value <= 0)
                                 return;
                             done = true;
                             QMetaObject::invokeMethod(QCoreApplication::instance(), action,
                                                       Qt::QueuedConnection);
                         });
    }
    QByteArray archive;
};

TEST_F(CancelTest, ClosingTheWindowDuringTheDownloadCancelsTheInstall)
{
    ServeStalledDownload();
    Open();
    form->ComboBox1->setCurrentIndex(0);
    OnFirstProgress([this] { form->close(); });
    QElapsedTimer timer;
    timer.start();
    form->Button1Click();
    EXPECT_LT(timer.elapsed(), 10000); // not waiting for the stalled server
    EXPECT_TRUE(notices.isEmpty()) << notices.join(u'\n').toStdString();
    EXPECT_TRUE(QuitRequested());
    EXPECT_FALSE(QFileInfo::exists(Download() + QStringLiteral("setup.zip.tmp")));
    EXPECT_FALSE(QFileInfo::exists(Download() + QStringLiteral("setup.zip")));
    EXPECT_TRUE(QDir(Download() + QStringLiteral("setup")).isEmpty()); // nothing unpacked
    EXPECT_NE(form->bfb->text(), QStringLiteral("100%"));
    for (int i = 0; i < 100 && !server.ClientLeftEarly(); ++i)
        QThread::msleep(20);
    EXPECT_TRUE(server.ClientLeftEarly());
}

TEST_F(CancelTest, ClosingTheWindowAtTheLastProgressEventUnpacksAndStartsNothing)
{
    ServeVersion("/soft/setup.zip", StoredZip({{SetupName, MarkerScript(), 0755}}));
    Open();
    form->ComboBox1->setCurrentIndex(0);
    // A small archive: the bar first moves with the last block, when the body is complete.
    OnFirstProgress([this] { form->close(); });
    form->Button1Click();
    EXPECT_TRUE(notices.isEmpty()) << notices.join(u'\n').toStdString();
    EXPECT_FALSE(QFileInfo::exists(Download() + QStringLiteral("setup.zip")));
    EXPECT_FALSE(QFileInfo::exists(Download() + QStringLiteral("setup.zip.tmp")));
    EXPECT_FALSE(QFileInfo::exists(Download() + "setup/" + QString::fromLatin1(SetupName)));
    QThread::msleep(1500);
    EXPECT_FALSE(QFileInfo::exists(Download() + QStringLiteral("setup/ran.txt")));
}

TEST_F(CancelTest, TheButtonCannotStartASecondRunWhileOneIsUnderWay)
{
    QByteArray big(2 << 20, 'y');
    ServeVersion("/soft/setup.zip", StoredZip({{SetupName, MarkerScript(), 0755}, {"big.bin", big}}));
    Open();
    form->ComboBox1->setCurrentIndex(0);
    form->Button1->setFocus();
    OnFirstProgress([this] {
        EXPECT_TRUE(form->installing);
        // By keyboard: the focused button is pressed by Space.
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
        QCoreApplication::sendEvent(form->Button1, &press);
        QCoreApplication::sendEvent(form->Button1, &release);
        // And however else the handler is reached.
        form->Button1->click();
        form->Button1Click();
    });
    form->Button1Click();
    EXPECT_TRUE(notices.isEmpty()) << notices.join(u'\n').toStdString();
    EXPECT_EQ(server.Requests().count(LookupTarget), 1);
    EXPECT_EQ(server.Requests().count("/soft/setup.zip"), 1);
    EXPECT_TRUE(AwaitFile(Download() + QStringLiteral("setup/ran.txt")));
    EXPECT_FALSE(form->Button1->isEnabled()); // covered for good
}

} // namespace
