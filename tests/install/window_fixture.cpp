#include "window_fixture.h"

#include "fixtures.h"
#include "quit_signal.h"
#include "shell.h"
#include "small_file_system.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

const QByteArray WindowTest::ListTarget = "/versions?pid=demo&act=list&fee=1";
const QByteArray WindowTest::LookupTarget = "/versions?pid=demo&act=down&vid=1&fee=1";

void WindowTest::SetUp()
{
    ASSERT_TRUE(folder_.isValid());
    ResetQuit();
    SetProgramFolder(Folder());
    SetMessagePresenter([this](const MessageBox &box) { notices.append(box.text); });
}

void WindowTest::TearDown()
{
    form.reset();
    if (mounted_)
        UnmountSmallFileSystem(folder_.path());
    SetMessagePresenter({});
    SetProgramFolder({});
    ResetQuit();
}

TForm2 &WindowTest::Create()
{
    WritePackage(folder_.path(), {packageId, launcherName,
                                  Address("/banner") + u',' + Address("/ad") + u',' + Address("/notice"),
                                  Address("/versions"), publicKey});
    form = std::make_unique<TForm2>();
    return *form;
}

TForm2 &WindowTest::Open()
{
    Create();
    form->show();
    form->FormShow();
    return *form;
}

void WindowTest::ServeVersion(const QByteArray &archiveTarget, const QByteArray &archive)
{
    server.On(ListTarget, ScriptServer::Ok("1`Version one"));
    server.On(LookupTarget, ScriptServer::Ok(Address(archiveTarget).toLatin1()));
    server.On(archiveTarget, ScriptServer::Ok(archive, "application/zip"));
}

bool WindowTest::SmallProgramFolder(int mebibytes)
{
    mounted_ = MountSmallFileSystem(folder_.path(), mebibytes);
    return mounted_;
}

bool WindowTest::AwaitFile(const QString &path, int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (!QFileInfo::exists(path)) {
        if (timer.elapsed() > milliseconds)
            return false;
        QCoreApplication::processEvents();
        QThread::msleep(20);
    }
    return true;
}

#ifdef Q_OS_WIN
const QByteArray SetupName = "setup.cmd";

QByteArray MarkerScript()
{
    return "@echo ran> \"%~dp0ran.txt\"\r\n";
}
#else
const QByteArray SetupName = "setup.sh";

QByteArray MarkerScript()
{
    return "#!/bin/sh\necho ran > \"$(dirname \"$0\")/ran.txt\"\n";
}
#endif
