// packtool keygen, sign and verify: the publisher's minisign key pair and signed archives.

#include "commands.h"
#include "hidden_input.h"
#include "minisign.h"
#include "signed_archive.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdio>

namespace {

int Refuse(const QString &problem)
{
    Print(stderr, QStringLiteral("packtool: %1\n").arg(problem));
    return 1;
}

std::optional<QByteArray> ReadWhole(const QString &path, QString *problem)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = QStringLiteral("cannot read \"%1\": %2").arg(path, file.errorString());
        return std::nullopt;
    }
    return file.readAll();
}

std::optional<PublicKey> ReadPublicKey(const QString &path, QString *problem)
{
    const std::optional<QByteArray> text = ReadWhole(path, problem);
    if (!text)
        return std::nullopt;
    std::optional<PublicKey> key = ParsePublicKeyFile(*text);
    if (!key)
        *problem = QStringLiteral("\"%1\" is not a minisign public key file").arg(path);
    return key;
}

QString WriteAtomically(const QString &path, const QByteArray &bytes, QFileDevice::Permissions permissions)
{
    QSaveFile output(path);
    if (!output.open(QIODevice::WriteOnly) || !output.setPermissions(permissions) ||
        output.write(bytes) != bytes.size() || !output.commit())
        return QStringLiteral("cannot write \"%1\": %2").arg(path, output.errorString());
    return {};
}

// One line from standard input, as minisign reads it; on a terminal it is asked for and not echoed.
QByteArray ReadPassword()
{
    HiddenInput hidden;
    if (hidden.OnTerminal())
        Print(stderr, QStringLiteral("Password: "));
    QByteArray line;
    for (int c; (c = std::getchar()) != EOF && c != '\n';)
        line.append(char(c));
    if (hidden.OnTerminal())
        Print(stderr, QStringLiteral("\n"));
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

// Parses options and the one archive argument; false after printing the usage.
bool ParseWithArchive(QCommandLineParser &parser, const char *command, const QStringList &arguments,
                      int *status)
{
    if (!parser.parse(QStringList{QStringLiteral("packtool ") + QLatin1String(command)} + arguments)) {
        *status = UsageError(parser.errorText());
        return false;
    }
    if (parser.positionalArguments().size() != 1) {
        *status = UsageError(QStringLiteral("%1 takes one archive").arg(QLatin1String(command)));
        return false;
    }
    return true;
}

} // namespace

int RunKeygen(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addOption({{"o", "output"}, {}, QStringLiteral("name")});
    if (!parser.parse(QStringList{QStringLiteral("packtool keygen")} + arguments))
        return UsageError(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return UsageError(
            QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));
    if (!parser.isSet(QStringLiteral("o")))
        return UsageError(QStringLiteral("give -o NAME"));
    const QString name = parser.value(QStringLiteral("o"));
    const QString publicPath = name + QStringLiteral(".pub");
    const QString secretPath = name + QStringLiteral(".key");
    // A lost secret key cannot sign updates for the copies already shipped with its public key.
    for (const QString &path : {publicPath, secretPath}) {
        if (QFileInfo::exists(path))
            return Refuse(QStringLiteral("\"%1\" exists already; it is not replaced").arg(path));
    }
    const auto [publicKey, secretKey] = GenerateKeyPair();
    QString problem =
        WriteAtomically(secretPath, SecretKeyFile(secretKey), QFile::ReadOwner | QFile::WriteOwner);
    if (problem.isEmpty())
        problem = WriteAtomically(publicPath, PublicKeyFile(publicKey),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    if (!problem.isEmpty())
        return Refuse(problem);
    Print(stdout, QStringLiteral("key id %1: public key in %2, secret key (no password) in %3\n")
                      .arg(KeyIdHex(publicKey.id), publicPath, secretPath));
    return 0;
}

int RunSign(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("key"), {}, QStringLiteral("file")});
    parser.addOption({QStringLiteral("signature"), {}, QStringLiteral("file")});
    parser.addOption({QStringLiteral("public-key"), {}, QStringLiteral("file")});
    parser.addOption({{"o", "output"}, {}, QStringLiteral("file")});
    int status = 0;
    if (!ParseWithArchive(parser, "sign", arguments, &status))
        return status;
    const bool withKey = parser.isSet(QStringLiteral("key"));
    if (withKey == parser.isSet(QStringLiteral("signature")))
        return UsageError(QStringLiteral("give either --key or --signature"));
    const QString archive = parser.positionalArguments().first();
    const QString output = parser.isSet(QStringLiteral("o")) ? parser.value(QStringLiteral("o")) : archive;

    QString problem;
    QByteArray text;
    QString keyId;
    if (withKey) {
        const std::optional<QByteArray> keyText = ReadWhole(parser.value(QStringLiteral("key")), &problem);
        if (!keyText)
            return Refuse(problem);
        QByteArray password;
        const bool protectedKey = SecretKeyNeedsPassword(*keyText);
        if (protectedKey)
            password = ReadPassword();
        const std::optional<SecretKey> key =
            ParseSecretKeyFile(*keyText, &problem, protectedKey ? &password : nullptr);
        password.fill('\0');
        if (!key)
            return Refuse(problem);
        const std::optional<QByteArray> message = UnsignedArchiveMessage(archive, true, &problem);
        if (!message)
            return Refuse(problem);
        const QByteArray trusted = "timestamp:" + QByteArray::number(QDateTime::currentSecsSinceEpoch()) +
                                   "\tfile:" + QFileInfo(output).fileName().toUtf8() + "\thashed";
        text =
            SignatureText(SignMessage(*key, *message, true, trusted), "signature from packtool secret key");
        keyId = KeyIdHex(key->id);
    } else {
        const std::optional<QByteArray> read = ReadWhole(parser.value(QStringLiteral("signature")), &problem);
        if (!read)
            return Refuse(problem);
        text = *read;
        const std::optional<Signature> signature = ParseSignature(text, &problem);
        if (!signature)
            return Refuse(problem);
        keyId = KeyIdHex(signature->keyId);
        if (parser.isSet(QStringLiteral("public-key"))) {
            const std::optional<PublicKey> key =
                ReadPublicKey(parser.value(QStringLiteral("public-key")), &problem);
            if (!key)
                return Refuse(problem);
            const std::optional<QByteArray> message =
                UnsignedArchiveMessage(archive, signature->prehashed, &problem);
            if (!message)
                return Refuse(problem);
            problem = CheckSignature(*key, *signature, *message);
            if (!problem.isEmpty())
                return Refuse(problem + QStringLiteral("; nothing is written"));
        } else {
            Print(stderr, QStringLiteral("packtool: note: the signature is not checked against a key; give "
                                         "--public-key FILE.pub to check it before it is embedded\n"));
        }
    }
    problem = EmbedSignature(archive, text, output);
    if (!problem.isEmpty())
        return Refuse(problem);
    Print(stdout, QStringLiteral("%1: signed by key %2\n").arg(output, keyId));
    return 0;
}

int RunVerify(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("public-key"), {}, QStringLiteral("file")});
    int status = 0;
    if (!ParseWithArchive(parser, "verify", arguments, &status))
        return status;
    if (!parser.isSet(QStringLiteral("public-key")))
        return UsageError(QStringLiteral("give --public-key FILE.pub"));
    QString problem;
    const std::optional<PublicKey> key = ReadPublicKey(parser.value(QStringLiteral("public-key")), &problem);
    if (!key)
        return Refuse(problem);
    const ArchiveVerdict verdict =
        VerifySignedArchive(parser.positionalArguments().first(), PublicKeyLine(*key));
    if (!verdict.ok)
        return Refuse(verdict.reason);
    Print(stdout, QStringLiteral("signature by key %1 holds\ntrusted comment: %2\n")
                      .arg(verdict.keyId, verdict.trustedComment));
    return 0;
}
