#include "application.h"
#include "failure.h"
#include "form2.h"
#include "package_fixture.h"
#include "package_reader.h"
#include "window_fixture.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>

namespace {

// Any event sent to it fails, as a handler would.
class FailingHandler : public QObject {
public:
    std::function<void()> fail;

protected:
    bool event(QEvent *event) override
    {
        if (event->type() == QEvent::User)
            fail();
        return QObject::event(event);
    }
};

class HandlerFailureTest : public WindowTest {
protected:
    void Dispatch(std::function<void()> fail)
    {
        handler.fail = std::move(fail);
        QCoreApplication::postEvent(&handler, new QEvent(QEvent::User));
        PumpEvents();
    }
    FailingHandler handler;
};

TEST_F(HandlerFailureTest, EscapedFailureGoesToTheErrorBox)
{
    Dispatch([] {
        throw Failure("EInOutError", "Cannot create file \"/x/a.zip.tmp\". No such file or directory");
    });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, "Error");
    EXPECT_EQ(boxes[0].text, "Cannot create file \"/x/a.zip.tmp\". No such file or directory.");
    EXPECT_TRUE(boxes[0].errorIcon);
    EXPECT_FALSE(boxes[0].topLevel);
}

TEST_F(HandlerFailureTest, WrappedFailureShowsTheInnermostMessage)
{
    Dispatch([] {
        try {
            throw Failure("EZipException", "Invalid central directory");
        } catch (...) {
            std::throw_with_nested(Failure("EOuter", "Extraction failed"));
        }
    });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Invalid central directory.");
}

TEST_F(HandlerFailureTest, WrappedFailureWithEmptyInnerMessageKeepsTheOuter)
{
    Dispatch([] {
        try {
            throw Failure("EInner", "");
        } catch (...) {
            std::throw_with_nested(Failure("EOuter", "Extraction failed"));
        }
    });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Extraction failed.");
}

TEST_F(HandlerFailureTest, OutOfMemoryIsReportedByName)
{
    Dispatch([] { throw std::bad_alloc(); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Out of memory.");
}

TEST_F(HandlerFailureTest, PumpingHandlerResumesAfterAFailureInsideItsPump)
{
    FailingHandler pumping;
    bool resumed = false;
    size_t boxesBeforeResume = 0;
    pumping.fail = [&] {
        Dispatch([] { throw Failure("EFail", "inner handler"); });
        boxesBeforeResume = boxes.size();
        resumed = true;
    };
    QCoreApplication::postEvent(&pumping, new QEvent(QEvent::User));
    PumpEvents();
    EXPECT_TRUE(resumed);
    EXPECT_EQ(boxesBeforeResume, 1u);
}

class RunningWindowTest : public WindowTest {
protected:
    RunningWindowTest()
    {
        WriteWellFormedPackage();
        Watchdog();
        archive = folder() + "setup.zip";
        WriteFile(archive, "PK archive");
    }
    // Runs the window with `during` dispatched by the event loop.
    int RunWith(std::function<void(TForm2 &)> during)
    {
        QTimer::singleShot(50, qApp, [during] {
            if (TForm2 *form = MainWindow())
                during(*form);
        });
        return RunMainWindow<TForm2>();
    }
    QString archive;
};

TEST_F(RunningWindowTest, FailureInAHandlerKeepsTheProgramRunning)
{
    bool laterEventRan = false;
    const int status = RunWith([&](TForm2 &form) {
        QTimer::singleShot(0, qApp, [] { throw Failure("EFail", "handler broke"); });
        QTimer::singleShot(20, qApp, [&laterEventRan, &form] {
            laterEventRan = form.isVisible();
            form.close();
        });
    });
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(laterEventRan);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, "Error");
    EXPECT_EQ(boxes[0].text, "handler broke.");
}

TEST_F(RunningWindowTest, UserCloseDeletesTheArchiveAndEnds)
{
    bool visibleAfterClose = false;
    const int status = RunWith([&](TForm2 &form) {
        form.Session.ArchivePath = archive;
        form.close();
        visibleAfterClose = form.isVisible();
    });
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(visibleAfterClose) << "the window stays on screen until the program ends";
    EXPECT_FALSE(QFile::exists(archive));
}

TEST_F(RunningWindowTest, FailAndQuitFromAHandlerKeepsTheArchive)
{
    const int status = RunWith([&](TForm2 &form) {
        form.Session.ArchivePath = archive;
        FailAndQuit(QStringLiteral("下载成功，软件包找不到，请点击上方图片进入网站联系客服反馈处理"));
    });
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(QFile::exists(archive));
    ASSERT_EQ(boxes.size(), 1u);
}

TEST_F(RunningWindowTest, HandlerThatRequestsQuitRunsToItsEnd)
{
    bool ranToEnd = false;
    const int status = RunWith([&](TForm2 &) {
        RequestQuit();
        PumpEvents();
        ranToEnd = true;
    });
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(ranToEnd);
}

class FormCloseTest : public WindowTest {
protected:
    void SetUp() override
    {
        WriteWellFormedPackage();
        form = std::make_unique<TForm2>();
    }
    std::unique_ptr<TForm2> form;
};

TEST_F(FormCloseTest, WithoutArchivePathDeletesNothing)
{
    const QStringList before = QDir(folder()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
    form->FormClose();
    EXPECT_EQ(QDir(folder()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), before);
}

TEST_F(FormCloseTest, DeletesTheArchive)
{
    form->Session.ArchivePath = folder() + "setup.zip";
    WriteFile(form->Session.ArchivePath, "PK");
    form->FormClose();
    EXPECT_FALSE(QFile::exists(form->Session.ArchivePath));
}

TEST_F(FormCloseTest, MissingArchiveIsSilent)
{
    form->Session.ArchivePath = folder() + "gone.zip";
    form->FormClose();
    EXPECT_TRUE(boxes.empty());
}

TEST_F(FormCloseTest, ArchivePathNamingAFolderLeavesItAlone)
{
    // An address ending in "/" makes ArchivePath the download folder itself.
    ASSERT_TRUE(QDir(folder()).mkdir("download"));
    WriteFile(folder() + "download/kept.txt", "x");
    form->Session.ArchivePath = folder() + "download/";
    form->FormClose();
    EXPECT_TRUE(QFile::exists(folder() + "download/kept.txt"));
}

TEST_F(FormCloseTest, CloseDuringAnInstallIsMarkedForTheFlow)
{
    form->installing = true;
    QCloseEvent close;
    QCoreApplication::sendEvent(form.get(), &close);
    EXPECT_TRUE(form->closedDuringInstall);
    EXPECT_FALSE(close.isAccepted());
    EXPECT_TRUE(QuitRequested());
}

TEST_F(FormCloseTest, CreationKeepsWhatTheReaderLeftOnVersionMismatch)
{
    WriteFile(PackagePath(folder()), PackageFile(WellFormedText("a,b")));
    TForm2 mismatched;
    EXPECT_EQ(mismatched.Settings.PackageId, "pid-42");
    EXPECT_EQ(mismatched.Settings.AddressTriple, "a,b");
    EXPECT_TRUE(mismatched.Settings.BannerAddress.isEmpty());
    EXPECT_FALSE(mismatched.Session.ServiceNumber.isEmpty());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, QStringLiteral("数据包和主程序版本不匹配"));
}

} // namespace
