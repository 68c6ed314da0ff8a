#pragma once

#include <QStringList>
#include <QTemporaryDir>

// Certificates made with the openssl command for one test run: a "trusted" authority that the
// process trusts (AddTrustedCaCertificates), a "stranger" one it does not, and server
// certificates issued by them.
class TestAuthorities {
public:
    // Makes the authorities and these servers: "good" (trusted, for localhost and 127.0.0.1),
    // "unknown" (the stranger's, same names) and "misnamed" (trusted, for other.example).
    TestAuthorities();

    // The certificate and key files of a server, as serve.py takes them.
    QStringList Files(const QString &server) const;

private:
    void Run(const QStringList &arguments);
    void MakeAuthority(const QString &name);
    void MakeServer(const QString &name, const QString &authority, const QString &altNames);

    QTemporaryDir folder_;
};
