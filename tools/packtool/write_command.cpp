// packtool write: builds a package from its settings.

#include "commands.h"
#include "minisign.h"
#include "package_codec.h"
#include "package_format.h"
#include "text.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QtEndian>

namespace {

struct SettingOption {
    const char *name;
    int field; // -1: part of AddressTriple
};

const SettingOption settingOptions[] = {
    {"pid", PackageIdField}, {"launcher", LauncherNameField},       {"banner", -1}, {"ad", -1},
    {"notice", -1},          {"versions", VersionListAddressField},
};

// The reason a value cannot be stored so that the installer reads it back unchanged, or empty.
QString ValueProblem(const QString &option, const QString &value, bool isAddress)
{
    if (value.contains(FieldSeparator))
        return QStringLiteral("--%1 must not contain \"`\"").arg(option);
    if (isAddress && value.contains(AddressSeparator))
        return QStringLiteral("--%1 must not contain \",\"").arg(option);
    if (DecodeGbk(EncodeGbk(value)) != value)
        return QStringLiteral("--%1 holds characters that GBK cannot represent").arg(option);
    return {};
}

int FileError(const char *action, const QString &path, const QString &reason)
{
    Print(stderr,
          QStringLiteral("packtool: cannot %1 \"%2\": %3\n").arg(QLatin1String(action), path, reason));
    return 1;
}

QByteArray PackageBytes(const QStringList &fields)
{
    const QByteArray payload = EncodePackageText(EncodeGbk(fields.join(FieldSeparator)));
    char trailer[TrailerSize];
    qToLittleEndian<qint32>(qint32(payload.size()), trailer);
    return payload + QByteArray(trailer, TrailerSize);
}

// Writes the base file's bytes (if any) followed by the package into path, replacing it only
// once everything is written. The base is copied in blocks, so a large program costs no memory.
int WriteAtomically(const QString &path, const QString &base, const QByteArray &package)
{
    QSaveFile output(path);
    if (!output.open(QIODevice::WriteOnly))
        return FileError("write", path, output.errorString());
    if (!base.isEmpty()) {
        QFile input(base);
        if (!input.open(QIODevice::ReadOnly))
            return FileError("read", base, input.errorString());
        QByteArray block;
        while (!(block = input.read(1 << 20)).isEmpty()) {
            if (output.write(block) != block.size())
                return FileError("write", path, output.errorString());
        }
        if (input.error() != QFileDevice::NoError)
            return FileError("read", base, input.errorString());
    }
    if (output.write(package) != package.size() || !output.commit())
        return FileError("write", path, output.errorString());
    return 0;
}

} // namespace

int RunWrite(const QStringList &arguments)
{
    QCommandLineParser parser;
    for (const SettingOption &setting : settingOptions)
        parser.addOption({QString::fromLatin1(setting.name), {}, QStringLiteral("value")});
    parser.addOption({{"o", "output"}, {}, QStringLiteral("file")});
    parser.addOption({QStringLiteral("append-to"), {}, QStringLiteral("file")});
    parser.addOption({QStringLiteral("public-key"), {}, QStringLiteral("file")});
    parser.addOption({QStringLiteral("bundle"), {}, QStringLiteral("folder")});
    if (!parser.parse(QStringList{QStringLiteral("packtool write")} + arguments))
        return UsageError(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return UsageError(
            QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));

    QStringList fields(FieldCount);
    QStringList addresses;
    for (const SettingOption &setting : settingOptions) {
        const QString option = QString::fromLatin1(setting.name);
        if (!parser.isSet(option))
            return UsageError(QStringLiteral("--%1 is missing").arg(option));
        const QString value = parser.value(option);
        const QString problem = ValueProblem(option, value, setting.field < 0);
        if (!problem.isEmpty())
            return UsageError(problem);
        if (setting.field < 0)
            addresses.append(value);
        else
            fields[setting.field] = value;
    }
    fields[AddressTripleField] = addresses.join(AddressSeparator);
    fields[CheckField] = QString::fromLatin1(EncodePackageText(EncodeGbk(fields[PackageIdField])));
    if (parser.isSet(QStringLiteral("public-key"))) {
        const QString keyPath = parser.value(QStringLiteral("public-key"));
        QFile keyFile(keyPath);
        if (!keyFile.open(QIODevice::ReadOnly))
            return FileError("read", keyPath, keyFile.errorString());
        const std::optional<PublicKey> key = ParsePublicKeyFile(keyFile.readAll());
        if (!key)
            return FileError("use", keyPath, QStringLiteral("not a minisign public key file"));
        fields[PublicKeyField] = QString::fromLatin1(PublicKeyLine(*key));
    }

    const QString base = parser.value(QStringLiteral("append-to"));
    QString output = parser.isSet(QStringLiteral("o")) ? parser.value(QStringLiteral("o")) : base;
    if (parser.isSet(QStringLiteral("bundle"))) {
        if (!output.isEmpty())
            return UsageError(QStringLiteral("--bundle takes the place of -o and --append-to"));
        // The folder may not exist yet: the package can be written before scripts/bundle.sh
        // fills the folder, which then keeps it.
        const QString folder = parser.value(QStringLiteral("bundle"));
        if (folder.isEmpty() || !QDir().mkpath(folder))
            return FileError("create the folder", folder, QStringLiteral("mkdir failed"));
        output = QDir(folder).filePath(QStringLiteral("pack.db"));
    }
    if (output.isEmpty())
        return UsageError(QStringLiteral("give -o, --append-to or --bundle"));

    return WriteAtomically(output, base, PackageBytes(fields));
}
