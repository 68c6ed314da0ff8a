#include "reopen_path.h"

#include <QFileInfo>

QString ReopenPath(const QFile &Archive)
{
    const QString Own = QStringLiteral("/proc/self/fd/%1").arg(Archive.handle());
    return QFileInfo::exists(Own) ? Own : Archive.fileName();
}
