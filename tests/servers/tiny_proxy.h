#pragma once

#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

// Debian's tinyproxy on a free loopback port for the life of the object, with a generated
// configuration; with a user, only requests carrying that user's Basic credentials pass.
class TinyProxy {
public:
    explicit TinyProxy(const QString &user = {}, const QString &password = {})
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        port_ = probe.serverPort();
        probe.close();
        QFile config(folder_.filePath("tinyproxy.conf"));
        config.open(QIODevice::WriteOnly);
        config.write(QStringLiteral("Port %1\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 30\nMaxClients 20\n"
                                    "LogFile \"%2\"\nLogLevel Info\n")
                         .arg(port_)
                         .arg(folder_.filePath("tinyproxy.log"))
                         .toUtf8());
        if (!user.isEmpty())
            config.write(QStringLiteral("BasicAuth %1 %2\n").arg(user, password).toUtf8());
        config.close();
        process_.start(QStringLiteral("tinyproxy"), {"-d", "-c", config.fileName()});
        for (int i = 0; i < 100; ++i) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, port_);
            if (socket.waitForConnected(100))
                return;
            QThread::msleep(50);
        }
    }
    ~TinyProxy()
    {
        process_.kill();
        process_.waitForFinished();
    }

    quint16 Port() const { return port_; }
    QString Address(const QString &credentials = {}) const
    {
        const QString userInfo = credentials.isEmpty() ? QString() : credentials + u'@';
        return QStringLiteral("http://") + userInfo + QStringLiteral("127.0.0.1:") + QString::number(port_);
    }
    QString Log() const
    {
        QFile log(folder_.filePath("tinyproxy.log"));
        return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
    }

private:
    QTemporaryDir folder_;
    QProcess process_;
    quint16 port_ = 0;
};
