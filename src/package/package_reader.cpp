#include "package_reader.h"

#include "failure.h"
#include "package_codec.h"
#include "package_format.h"
#include "text.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <new>
#include <vector>

static Failure StreamReadError()
{
    return Failure("EReadError", "Stream read error");
}

// The payload in front of the trailer; empty when the trailer's N is below 1. An N that
// cannot fit in the file fails before anything is reserved, so a damaged trailer never asks
// for gigabytes.
static std::vector<char> ReadPayload(QFile &file)
{
    const qint64 size = file.size();
    if (size < TrailerSize || !file.seek(size - TrailerSize))
        throw StreamReadError();
    char trailer[TrailerSize];
    if (file.read(trailer, TrailerSize) != TrailerSize)
        throw StreamReadError();
    const qint32 length = qFromLittleEndian<qint32>(trailer);
    if (length < 1)
        return {};
    if (length > size - TrailerSize || !file.seek(size - TrailerSize - length))
        throw StreamReadError();
    std::vector<char> payload;
    try {
        payload.resize(size_t(length));
    } catch (const std::bad_alloc &) {
        throw Failure("EOutOfMemory", "Out of memory");
    }
    if (file.read(payload.data(), length) != length)
        throw StreamReadError();
    return payload;
}

QString PackagePath(const QString &programFolder)
{
    return programFolder + QLatin1String(PackageFileName);
}

PackageLoad LoadPackage(const QString &packagePath)
{
    PackageLoad load;
    if (!QFileInfo(packagePath).isFile())
        return load;
    load.ServiceNumber = QString::fromUtf16(ServiceNumber);

    QFile file(packagePath);
    if (!file.open(QIODevice::ReadOnly)) {
        throw Failure("EFOpenError",
                      QStringLiteral("Cannot open file \"%1\". %2").arg(packagePath, file.errorString()));
    }
    const std::vector<char> payload = ReadPayload(file);
    const QString text =
        DecodeAnsi(DecodePackageText(QByteArrayView(payload.data(), qsizetype(payload.size()))));
    const QStringList fields = SplitFields(text, FieldSeparator);
    if (fields.size() != FieldCount) {
        load.Outcome = PackageOutcome::Damaged;
        return load;
    }
    PackageSettings &settings = load.Settings;
    settings.PackageId = fields[PackageIdField];
    settings.LauncherName = fields[LauncherNameField];
    settings.AddressTriple = fields[AddressTripleField];
    settings.VersionListAddress = fields[VersionListAddressField];
    settings.PublicKey = fields[PublicKeyField];
    // Not used, but a package whose check field is not hex text is refused.
    DecodePackageText(EncodeAnsi(fields[CheckField]));
    file.close();

    const QStringList addresses = SplitFields(settings.AddressTriple, AddressSeparator);
    if (addresses.size() != AddressCount) {
        load.Outcome = PackageOutcome::VersionMismatch;
        return load;
    }
    settings.BannerAddress = addresses[0];
    settings.AdAddress = addresses[1];
    settings.NoticeAddress = addresses[2];
    load.Outcome = PackageOutcome::Loaded;
    return load;
}

QString PackageNotice(PackageOutcome outcome, const QString &packagePath)
{
    switch (outcome) {
    case PackageOutcome::Loaded:
        break;
    case PackageOutcome::Missing:
        return QStringLiteral("文件不存在：") + packagePath;
    case PackageOutcome::Damaged:
        return QStringLiteral("文件已经被破坏，无法打开");
    case PackageOutcome::VersionMismatch:
        return QStringLiteral("数据包和主程序版本不匹配");
    }
    return {};
}
