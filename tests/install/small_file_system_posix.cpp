#include "small_file_system.h"

#include <QFile>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

bool MountSmallFileSystem(const QString &folder, int mebibytes)
{
    const QByteArray options = "size=" + QByteArray::number(mebibytes) + "m";
    return geteuid() == 0 && unshare(CLONE_NEWNS) == 0 &&
           mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, options.constData()) == 0;
}

void UnmountSmallFileSystem(const QString &folder)
{
    umount(QFile::encodeName(folder).constData());
}
