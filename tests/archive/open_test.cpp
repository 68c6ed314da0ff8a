// Finding and loading the central directory: what opens, what fails and with which message.
// A failure while opening leaves the destination untouched.
#include "extraction_fixture.h"
#include "failure.h"
#include "zip_builder.h"
#include "zip_extract.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QtEndian>


namespace {

const QByteArray OneEntry = BuildZip({CraftedEntry::Stored("a.txt", "alpha")});

QByteArray WithCommentOfLength(int Length)
{
    return BuildZip({CraftedEntry::Stored("a.txt", "alpha")}, QByteArray(Length, 'c'));
}

struct OpenCase {
    const char *What;
    QByteArray Zip;
    std::optional<QString> Failure;
    FileTree Expected;
};

class OpenTable : public ExtractionTest, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(OpenTable, ExtractsOrFailsWithoutTouchingTheDestination)
{
    const OpenCase &Case = GetParam();
    EXPECT_EQ(Extract(Case.Zip), Case.Failure) << Case.What;
    if (Case.Failure || Case.Expected.isEmpty())
        EXPECT_FALSE(QFileInfo::exists(Destination())) << Case.What;
    else
        EXPECT_EQ(Extracted(), Case.Expected) << Case.What;
}

const QString ReadError = "Error reading zip file";
const FileTree Alpha{{"a.txt", "alpha"}};

QByteArray PatchedAt(QByteArray Zip, const QByteArray &Find, const QByteArray &Replacement)
{
    return Zip.replace(Zip.indexOf(Find), Replacement.size(), Replacement);
}

// An end record whose central directory offset points at a signature followed by too few bytes.
QByteArray CentralDirectoryCutShort()
{
    QByteArray Zip = BuildZip({CraftedEntry::Stored("a.txt", "alpha")}, "PK\x01\x02"
                                                                        "0123456789");
    const qsizetype Signature = Zip.size() - 14;
    const char Offset[4] = {char(Signature), char(Signature >> 8), 0, 0};
    return Zip.replace(Zip.size() - 14 - 6, 4, QByteArray(Offset, 4));
}

// The record's fixed part is whole, its comment would run past the end of the archive.
QByteArray CentralCommentPastTheEnd()
{
    QByteArray Zip = OneEntry;
    const qsizetype Central = qFromLittleEndian<quint32>(Zip.constData() + Zip.size() - 22 + 16);
    Zip[Central + 32] = char(0xFF);
    Zip[Central + 33] = char(0xFF);
    return Zip;
}

QByteArray CountingTwoEntries()
{
    QByteArray Zip = OneEntry;
    Zip[Zip.size() - 22 + 8] = 2;
    Zip[Zip.size() - 22 + 10] = 2;
    return Zip;
}

// A second end record inside the comment of the real one, claiming no entries.
QByteArray EndRecordInComment()
{
    const QByteArray Fake = QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0');
    return BuildZip({CraftedEntry::Stored("a.txt", "alpha")}, Fake);
}

INSTANTIATE_TEST_SUITE_P(
    Archives, OpenTable,
    ::testing::Values(
        OpenCase{"0 bytes", {}, "Stream read error", {}}, OpenCase{"1 byte", "P", ReadError, {}},
        OpenCase{"4 bytes, all signature", QByteArray("PK\x05\x06", 4), ReadError, {}},
        OpenCase{"signature 10 bytes before the end",
                 QByteArray("xxxxPK\x05\x06"
                            "0123456789",
                            18),
                 ReadError,
                 {}},
        OpenCase{"signature 21 bytes before the end",
                 QByteArray("PK\x05\x06", 4) + QByteArray(17, '\0'),
                 ReadError,
                 {}},
        OpenCase{
            "a record of no entries", QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0'), std::nullopt, {}},
        OpenCase{"not an archive", QByteArray(5000, 'z'), ReadError, {}},
        OpenCase{"no comment", OneEntry, std::nullopt, Alpha},
        OpenCase{"signature ending the first search window", WithCommentOfLength(1005), std::nullopt, Alpha},
        OpenCase{"signature straddling two search windows, 3 bytes in the first", WithCommentOfLength(1006),
                 std::nullopt, Alpha},
        OpenCase{"signature straddling two search windows, 2 bytes in the first", WithCommentOfLength(1007),
                 std::nullopt, Alpha},
        OpenCase{"signature beginning the second search window", WithCommentOfLength(1008), std::nullopt,
                 Alpha},
        OpenCase{"comment of 65,513 bytes", WithCommentOfLength(65513), std::nullopt, Alpha},
        OpenCase{"comment of 65,514 bytes", WithCommentOfLength(65514), ReadError, {}},
        OpenCase{"a signature too close to the end is no record",
                 BuildZip({CraftedEntry::Stored("a.txt", "alpha")}, QByteArray("PK\x05\x06", 4) + "abc"),
                 std::nullopt, Alpha},
        OpenCase{"a later record in the comment wins", EndRecordInComment(), std::nullopt, {}},
        OpenCase{"bad central signature",
                 PatchedAt(OneEntry, "PK\x01\x02", "PK\x01\x03"),
                 "Invalid Zip Central Header signature",
                 {}},
        OpenCase{"central entry cut short by the end", CentralDirectoryCutShort(), ReadError, {}},
        OpenCase{"central comment running past the end", CentralCommentPastTheEnd(), ReadError, {}},
        OpenCase{"more entries counted than present",
                 CountingTwoEntries(),
                 "Invalid Zip Central Header signature",
                 {}}));

TEST_F(ExtractionTest, MissingArchiveNamesItsFullPath)
{
    const QString Missing = QDir(Scratch.path()).filePath("none/../missing.zip");
    try {
        ExtractZipFile(Missing, Destination(), 936);
        FAIL() << "no failure";
    } catch (const Failure &Error) {
        EXPECT_EQ(Error.Kind(), "EFOpenError");
        // The system's text, in the system's language: whatever opening the missing file says.
        QFile Probe(Scratch.path() + "/missing.zip");
        EXPECT_FALSE(Probe.open(QIODevice::ReadOnly));
        EXPECT_EQ(Error.Message(),
                  QString("Cannot open file \"%1/missing.zip\". %2").arg(Scratch.path(), Probe.errorString()));
    }
    EXPECT_FALSE(QFileInfo::exists(Destination()));
}

TEST_F(ExtractionTest, UnsupportedCodePageFailsBeforeOpening)
{
    WriteArchive(OneEntry);
    EXPECT_EQ(Extract(1252), "Code page 1252 is not supported");
    EXPECT_FALSE(QFileInfo::exists(Destination()));
}

} // namespace
