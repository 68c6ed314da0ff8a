#include "window_fixture.h"

#include "fixtures.h"
#include "quit_signal.h"
#include "shell.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

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
        umount(QFile::encodeName(folder_.path()).constData());
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
    const QByteArray options = "size=" + QByteArray::number(mebibytes) + "m";
    mounted_ =
        geteuid() == 0 && unshare(CLONE_NEWNS) == 0 &&
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
        mount("tmpfs", QFile::encodeName(folder_.path()).constData(), "tmpfs", 0, options.constData()) == 0;
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

QByteArray MarkerScript()
{
    return "#!/bin/sh\necho ran > \"$(dirname \"$0\")/ran.txt\"\n";
}
