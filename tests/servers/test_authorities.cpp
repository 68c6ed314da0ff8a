#include "test_authorities.h"

#include "socket_transport.h"

#include <QFile>
#include <QProcess>
#include <stdexcept>

TestAuthorities::TestAuthorities()
{
    MakeAuthority("trusted");
    MakeAuthority("stranger");
    MakeServer("good", "trusted", "DNS:localhost,IP:127.0.0.1");
    MakeServer("unknown", "stranger", "DNS:localhost,IP:127.0.0.1");
    MakeServer("misnamed", "trusted", "DNS:other.example");
    AddTrustedCaCertificates(QSslCertificate::fromPath(folder_.filePath("trusted.pem")));
}

QStringList TestAuthorities::Files(const QString &server) const
{
    return {folder_.filePath(server + ".pem"), folder_.filePath(server + ".key")};
}

void TestAuthorities::Run(const QStringList &arguments)
{
    QProcess openssl;
    openssl.setWorkingDirectory(folder_.path());
    openssl.start("openssl", arguments);
    if (!openssl.waitForFinished(20000) || openssl.exitCode() != 0)
        throw std::runtime_error("openssl failed: " + openssl.readAllStandardError().toStdString());
}

void TestAuthorities::MakeAuthority(const QString &name)
{
    Run({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2",
         "-subj", "/CN=" + name + " test authority", "-keyout", name + ".key", "-out", name + ".pem"});
}

void TestAuthorities::MakeServer(const QString &name, const QString &authority, const QString &altNames)
{
    Run({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-subj", "/CN=" + name,
         "-keyout", name + ".key", "-out", name + ".csr"});
    QFile extensions(folder_.filePath(name + ".ext"));
    if (!extensions.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot write the certificate extensions");
    extensions.write("subjectAltName=" + altNames.toLatin1() + "\n");
    extensions.close();
    Run({"x509", "-req", "-in", name + ".csr", "-CA", authority + ".pem", "-CAkey", authority + ".key",
         "-CAcreateserial", "-days", "2", "-extfile", name + ".ext", "-out", name + ".pem"});
}
