#include "setup_launcher.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

bool StartsDirectly(const QString &path)
{
    return QFileInfo(path).isExecutable();
}

void OpenSetupProgram(const QString &path)
{
    if (StartsDirectly(path))
        QProcess::startDetached(path, {});
    else
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}
