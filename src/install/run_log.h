#pragma once

#include <QByteArray>
#include <QString>

// The log customer service can ask a user for: download/installer.log, UTF-8, appended run
// after run with the newest KeptBytes kept. It records what was asked of the network and
// what came of it, never a secret (no cookie, no credentials).
class RunLog {
public:
    static constexpr qint64 KeptBytes = 1 << 20;
    static constexpr const char *FileName = "installer.log";

    // Lines noted before the folder is known are held and written once it is.
    void Open(const QString &folder);
    // One line, stamped with the local time; line breaks in the text are written as "\n".
    void Note(const QString &text);

    QString Path() const { return path_; }

private:
    void Append(const QByteArray &bytes);
    void KeepNewest();

    QString path_;
    QByteArray held_;
};
