#include "run_log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSaveFile>

void RunLog::Open(const QString &folder)
{
    path_ = QDir(folder).filePath(QLatin1String(FileName));
    const QByteArray held = std::exchange(held_, {});
    Append(held);
}

void RunLog::Note(const QString &text)
{
    QString line = text;
    line.replace(QLatin1String("\r\n"), QLatin1String("\\n")).replace(u'\n', QLatin1String("\\n"));
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    Append((stamp + QStringLiteral("  ") + line + u'\n').toUtf8());
}

void RunLog::Append(const QByteArray &bytes)
{
    if (path_.isEmpty()) {
        held_ += bytes;
        return;
    }
    // Opened for each line, so that what was written is on disk whatever ends the program.
    QFile file(path_);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return; // a log must never stop an install
    file.write(bytes);
    const qint64 size = file.size();
    file.close();
    // Cut back only once it is well over, so the cost is spread over many lines.
    if (size > KeptBytes + KeptBytes / 16)
        KeepNewest();
}

void RunLog::KeepNewest()
{
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly))
        return;
    file.seek(file.size() - KeptBytes);
    QByteArray kept = file.readAll();
    file.close();
    kept.remove(0, kept.indexOf('\n') + 1); // from the first whole line on
    QSaveFile save(path_);
    if (save.open(QIODevice::WriteOnly)) {
        save.write(kept);
        save.commit();
    }
}
