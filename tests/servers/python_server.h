#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// serve.py from this folder, started on a free port for the life of the object.
class PythonServer {
public:
    explicit PythonServer(const QString &directory, const QStringList &tlsFiles = {})
    {
        QStringList arguments{QStringLiteral(SERVERS_TEST_DIR "/serve.py"), directory};
        if (tlsFiles.size() == 2)
            arguments << "--cert" << tlsFiles[0] << "--key" << tlsFiles[1];
        process_.start(QStringLiteral("python3"), arguments);
        if (process_.waitForReadyRead(10000))
            port_ = process_.readLine().trimmed().toUShort();
    }
    ~PythonServer()
    {
        process_.kill();
        process_.waitForFinished();
    }

    quint16 Port() const { return port_; }
    QString Url(const QString &path, const QString &scheme = QStringLiteral("http"),
                const QString &host = QStringLiteral("127.0.0.1")) const
    {
        return QStringLiteral("%1://%2:%3%4").arg(scheme, host).arg(port_).arg(path);
    }

private:
    QProcess process_;
    quint16 port_ = 0;
};
