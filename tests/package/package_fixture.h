#pragma once

#include "package_reader.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>

// Builds pack.db files for tests. The encoding is written here from the file layout, not
// taken from the code under test, so a shared mistake cannot hide; only the GBK conversion is
// the platform's (EncodeGbk, itself checked against fixed bytes in the common tests).

// Hex pairs of plain XOR PackageKey.
QByteArray EncodePayload(const QByteArray &plain, bool lowerCase = false);
// The 4-byte trailer holding N.
QByteArray Trailer(qint32 n);
// A whole file: the decoded text in GBK, encoded, then its trailer.
QByteArray PackageFile(const QString &decodedText);
// 32 fields, empty except the given ones.
QString FieldsText(const std::map<int, QString> &values);
// The fields of a well-formed package with the given AddressTriple.
QString WellFormedText(
    const QString &addressTriple = "http://a.test/banner.png,http://a.test/ad,http://a.test/notice");
// Writes bytes to path, failing the calling test on error.
void WriteFile(const QString &path, const QByteArray &bytes);

// A scratch program folder and the package path in it.
class PackageFolder : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString folder() const { return dir.path() + "/"; }
    QString path() const { return PackagePath(folder()); }
};
