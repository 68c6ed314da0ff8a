#include "setup_launcher.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

void OpenSetupProgram(const QString &path)
{
    if (QFileInfo(path).isExecutable())
        QProcess::startDetached(path, {});
    else
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}
