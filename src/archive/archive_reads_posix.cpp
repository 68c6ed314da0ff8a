#include "archive_reads.h"

#include <QFileInfo>

#include <cerrno>
#include <unistd.h>

qint64 ReadAt(int Handle, char *Data, qint64 Count, qint64 Position)
{
    qint64 Done = 0;
    while (Done < Count) {
        const ssize_t Got = pread(Handle, Data + Done, size_t(Count - Done), Position + Done);
        if (Got < 0 && errno == EINTR)
            continue;
        if (Got <= 0)
            break;
        Done += Got;
    }
    return Done;
}

QString ReopenPath(const QFile &Archive)
{
    const QString Own = QStringLiteral("/proc/self/fd/%1").arg(Archive.handle());
    return QFileInfo::exists(Own) ? Own : Archive.fileName();
}
