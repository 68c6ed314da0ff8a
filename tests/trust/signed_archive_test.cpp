// What verification refuses, each case one altered copy of the same signed archive, read from
// disk and hashed as it was written; and what a hash taken while writing may stand for.
#include "minisign.h"
#include "signed_archive.h"
#include "zip_builder.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QtEndian>
#include <gtest/gtest.h>

#include <atomic>
#include <future>

namespace {

// Large enough that most of it is hashed while written, the end record and signature not.
const QByteArray Unsigned = BuildZip({CraftedEntry::Deflated("setup.sh", "#!/bin/sh\necho installed\n"),
                                      CraftedEntry::Stored("readme.txt", "read me"),
                                      CraftedEntry::Stored("data.bin", Noise(3 << 20, 11))});

// The signature made for Unsigned, and Unsigned with it as the comment.
QByteArray SignatureOf(const SecretKey &key, const QByteArray &archive, bool prehashed,
                       const QByteArray &trusted = "timestamp:1700000000\tfile:setup.zip\thashed")
{
    DataHash hash;
    hash.Add(archive.constData(), archive.size());
    const QByteArray message = prehashed ? hash.Result() : archive;
    return SignatureText(SignMessage(key, message, prehashed, trusted), "signature from test key");
}

QByteArray WithComment(const QByteArray &archive, const QByteArray &comment)
{
    QByteArray out = archive.left(archive.size() - 2);
    char length[2];
    qToLittleEndian<quint16>(quint16(comment.size()), length);
    return out.append(length, 2).append(comment);
}

const auto Keys = GenerateKeyPair();
const auto OtherKeys = GenerateKeyPair();
const QByteArray Text = SignatureOf(Keys.second, Unsigned, true);
const QByteArray Signed = WithComment(Unsigned, Text);

// Signed with the byte at At (counted from the start, or from the end when negative) changed.
QByteArray Flipped(qsizetype At)
{
    QByteArray bytes = Signed;
    const qsizetype index = At < 0 ? bytes.size() + At : At;
    bytes[index] = char(bytes[index] ^ 0x01);
    return bytes;
}

// Signed with the line of the signature that starts with Prefix changed by one character.
QByteArray WithLineAltered(const QByteArray &Prefix)
{
    const qsizetype line = Signed.indexOf(Prefix, Unsigned.size());
    QByteArray bytes = Signed;
    const qsizetype at = line + Prefix.size() + 20; // past the algorithm and key id
    bytes[at] = bytes[at] == 'A' ? 'B' : 'A';
    return bytes;
}

// The untrusted comment may be changed freely; here it hides an end record whose own comment
// runs to the end of the file. The extractor takes the last end record it finds, so that is
// the one verification has to take too, and what follows it is no signature.
QByteArray WithHiddenEndRecord()
{
    const QByteArray rest = Text.mid(Text.indexOf('\n'));
    QByteArray record = QByteArray("PK\x05\x06", 4) + QByteArray(16, '\0');
    char length[2];
    qToLittleEndian<quint16>(quint16(rest.size()), length);
    return WithComment(Unsigned, "untrusted comment: x" + record.append(length, 2) + rest);
}

// Writes as a download makes them: position and bytes.
using Writes = QList<std::pair<qsizetype, QByteArray>>;

Writes InPieces(const QByteArray &Bytes, qsizetype Piece, qsizetype From = 0)
{
    Writes writes;
    for (qsizetype at = From; at < Bytes.size(); at += Piece)
        writes.append({at, Bytes.mid(at, Piece)});
    return writes;
}

StreamedArchiveHash &Feed(StreamedArchiveHash &Hash, const Writes &Writes)
{
    for (const auto &[at, bytes] : Writes)
        Hash.Written(at, bytes);
    return Hash;
}

class SignedArchive : public ::testing::Test {
protected:
    QString Write(const QByteArray &bytes)
    {
        const QString path = dir.filePath("setup.zip");
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        EXPECT_EQ(file.write(bytes), bytes.size());
        return path;
    }
    // With a hash taken as the bytes were written, when given.
    ArchiveVerdict Verify(const QByteArray &bytes, const PublicKey &key = Keys.first,
                          StreamedArchiveHash *written = nullptr)
    {
        return VerifySignedArchive(Write(bytes), PublicKeyLine(key), nullptr, written);
    }
    QTemporaryDir dir;
};

TEST_F(SignedArchive, PrehashedAndLegacySignaturesHold)
{
    for (const bool prehashed : {true, false}) {
        const ArchiveVerdict verdict =
            Verify(WithComment(Unsigned, SignatureOf(Keys.second, Unsigned, prehashed)));
        EXPECT_TRUE(verdict.ok) << verdict.reason.toStdString();
        EXPECT_EQ(verdict.keyId, KeyIdHex(Keys.first.id));
        EXPECT_EQ(verdict.trustedComment, "timestamp:1700000000\tfile:setup.zip\thashed");
    }
}

// The untrusted comment is what its name says: changing it changes nothing.
TEST_F(SignedArchive, UntrustedCommentIsNotChecked)
{
    QByteArray text = Text;
    text.replace("signature from test key", "anything at all, longer");
    EXPECT_TRUE(Verify(WithComment(Unsigned, text)).ok);
}

// The archive's end, a signature of another archive, behind a gigabyte of zeros (a sparse
// file): hashing it all takes a second or more, a stop ends it within a block.
TEST_F(SignedArchive, AStopEndsTheCheckOfALargeArchive)
{
    const QString path = dir.filePath("large.zip");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    constexpr qint64 Zeros = qint64(1) << 30;
    ASSERT_TRUE(file.resize(Zeros));
    ASSERT_TRUE(file.seek(Zeros));
    const QByteArray end = WithComment(Unsigned, SignatureOf(Keys.second, Unsigned, true));
    ASSERT_EQ(file.write(end), end.size());
    file.close();

    std::atomic<bool> stop{false};
    std::future<ArchiveVerdict> check = std::async(std::launch::async, [&] {
        return VerifySignedArchive(path, PublicKeyLine(Keys.first), &stop);
    });
    QThread::msleep(50);
    QElapsedTimer sinceStop;
    sinceStop.start();
    stop = true;
    const ArchiveVerdict verdict = check.get();
    EXPECT_LT(sinceStop.elapsed(), 300);
    EXPECT_FALSE(verdict.ok);
    EXPECT_EQ(verdict.reason, "the check was stopped");
}

struct RefusedCase {
    const char *What;
    QByteArray Archive;
    const char *Reason; // the start of the reason given
    bool OtherKey = false;
};

void PrintTo(const RefusedCase &Case, std::ostream *Out)
{
    *Out << Case.What;
}

class Refused : public SignedArchive, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(Refused, WithTheReason)
{
    const RefusedCase &Case = GetParam();
    const PublicKey &key = Case.OtherKey ? OtherKeys.first : Keys.first;
    for (const bool asWritten : {false, true}) {
        SCOPED_TRACE(asWritten ? "hashed as written" : "read from disk");
        StreamedArchiveHash written; // as a download writes the archive: in pieces of 64 KiB
        const ArchiveVerdict verdict =
            asWritten ? Verify(Case.Archive, key, &Feed(written, InPieces(Case.Archive, 64 << 10)))
                      : Verify(Case.Archive, key);
        EXPECT_FALSE(verdict.ok);
        EXPECT_TRUE(verdict.reason.startsWith(QString::fromUtf8(Case.Reason))) << verdict.reason.toStdString();
        EXPECT_TRUE(verdict.trustedComment.isEmpty());
    }
}

const qsizetype CentralDirectory = qFromLittleEndian<quint32>(Unsigned.constData() + Unsigned.size() - 6);
const qsizetype EntryData = Unsigned.indexOf("readme.txt") + 10; // the stored entry's data

INSTANTIATE_TEST_SUITE_P(
    Archives, Refused,
    ::testing::Values(
        RefusedCase{"unsigned", Unsigned, "the archive is not signed: its ZIP comment is empty"},
        RefusedCase{"a byte altered in an entry", Flipped(EntryData), "the signature does not match"},
        RefusedCase{"a byte altered in the central directory", Flipped(CentralDirectory + 20),
                    "the signature does not match"},
        RefusedCase{"a byte altered in the signature", WithLineAltered("\n"), "the signature does not match"},
        RefusedCase{"a byte altered in the trusted comment", WithLineAltered("\ntrusted comment: "),
                    "the trusted comment does not match"},
        RefusedCase{"a signature by another key", Signed, "the archive is signed by key", true},
        RefusedCase{"the global signature altered", WithLineAltered("hashed\n"),
                    "the trusted comment does not match"},
        RefusedCase{"a truncated comment", Signed.left(Signed.size() - 10),
                    "the archive is not signed: no ZIP"},
        RefusedCase{"trailing bytes after the comment", Signed + "x", "the archive is not signed: no ZIP"},
        RefusedCase{"the final line break missing", WithComment(Unsigned, Text.chopped(1)),
                    "the signature is malformed"},
        RefusedCase{"an end record hidden in the untrusted comment", WithHiddenEndRecord(),
                    "the signature is malformed"},
        RefusedCase{"a control byte in the untrusted comment",
                    WithComment(Unsigned, QByteArray(Text).replace("from test key", "\x01")),
                    "the signature is malformed: it holds control bytes"},
        RefusedCase{"not a ZIP archive at all", "just text", "the archive is not signed: no ZIP"}));

// The writes a download may make: a cut-off body started over from its first byte, a resumed
// one, and what can only come from writes that were not the whole file in order, after which
// the archive is read from disk again.
struct WritesCase {
    const char *What;
    Writes Made;
    bool HashUsed;
};

void PrintTo(const WritesCase &Case, std::ostream *Out)
{
    *Out << Case.What;
}

const qsizetype Half = Signed.size() / 2;

class HashedAsWritten : public SignedArchive, public ::testing::WithParamInterface<WritesCase> {};

TEST_P(HashedAsWritten, VerifiesTheFileOnDisk)
{
    const WritesCase &Case = GetParam();
    StreamedArchiveHash written;
    Feed(written, Case.Made);
    const qint64 messageEnd = Unsigned.size() - 2; // where the comment length would be
    EXPECT_EQ(written.Covers(Signed.size(), messageEnd), Case.HashUsed);
    const ArchiveVerdict verdict = Verify(Signed, Keys.first, &written);
    EXPECT_TRUE(verdict.ok) << verdict.reason.toStdString();
    EXPECT_FALSE(written.Covers(Signed.size(), messageEnd)) << "a hash is used up by the check that uses it";
}

INSTANTIATE_TEST_SUITE_P(
    Writes, HashedAsWritten,
    ::testing::Values(
        WritesCase{"in pieces of 64 KiB", InPieces(Signed, 64 << 10), true},
        WritesCase{"in one piece", {{0, Signed}}, true},
        WritesCase{"in pieces of a mebibyte and a byte", InPieces(Signed, (1 << 20) + 1), true},
        WritesCase{"other bytes, then started over",
                   InPieces(Noise(2 << 20, 5), 64 << 10) + InPieces(Signed, 64 << 10), true},
        WritesCase{"cut off, then resumed", InPieces(Signed.left(Half), 1000) + InPieces(Signed, 4096, Half),
                   true},
        WritesCase{"a gap: the rest written past the end of the first part",
                   {{0, Signed.left(Half)}, {Half + 1, Signed.mid(Half + 1)}}, false},
        WritesCase{"a part written again", {{0, Signed.left(Half)}, {Half - 10, Signed.mid(Half - 10)}}, false},
        WritesCase{"only the first part", {{0, Signed.left(Half)}}, false}));

// A legacy signature signs the archive itself, not its hash: the hash taken is of no use.
TEST_F(SignedArchive, LegacySignatureReadsTheArchive)
{
    const QByteArray legacy = WithComment(Unsigned, SignatureOf(Keys.second, Unsigned, false));
    StreamedArchiveHash written;
    const ArchiveVerdict verdict = Verify(legacy, Keys.first, &Feed(written, {{0, legacy}}));
    EXPECT_TRUE(verdict.ok) << verdict.reason.toStdString();
    EXPECT_TRUE(written.Covers(legacy.size(), Unsigned.size() - 2));
}

TEST_F(SignedArchive, MalformedKeyRefusesEverything)
{
    const ArchiveVerdict verdict = VerifySignedArchive(Write(Signed), "RWQ=not a key");
    EXPECT_FALSE(verdict.ok);
    EXPECT_EQ(verdict.reason, "the public key is malformed");
}

TEST_F(SignedArchive, EmbeddingRefusesAnArchiveWithAComment)
{
    const QString path = Write(Signed);
    const QString output = dir.filePath("again.zip");
    EXPECT_TRUE(EmbedSignature(path, Text, output).contains("has a ZIP comment already"));
    EXPECT_FALSE(QFile::exists(output));
    EXPECT_EQ(EmbedSignature(Write(Unsigned), Text, output), QString());
    QFile written(output);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), Signed);
}

TEST(SecretKeyFile, ReadsBackAndRefusesWhatItCannotUse)
{
    QString reason;
    const std::optional<SecretKey> read = ParseSecretKeyFile(SecretKeyFile(Keys.second), &reason);
    ASSERT_TRUE(read) << reason.toStdString();
    EXPECT_EQ(read->id, Keys.second.id);
    EXPECT_EQ(read->key, Keys.second.key);

    QList<QByteArray> lines = SecretKeyFile(Keys.second).split('\n');
    QByteArray data = QByteArray::fromBase64(lines[1]);
    data[2] = 'S';
    data[3] = 'c';
    lines[1] = data.toBase64();
    EXPECT_FALSE(ParseSecretKeyFile(lines.join('\n'), &reason));
    EXPECT_TRUE(reason.contains("password")) << reason.toStdString();

    data = QByteArray::fromBase64(SecretKeyFile(Keys.second).split('\n')[1]);
    data[data.size() - 40] = char(data[data.size() - 40] ^ 1); // in the secret key
    lines[1] = data.toBase64();
    EXPECT_FALSE(ParseSecretKeyFile(lines.join('\n'), &reason));
    EXPECT_TRUE(reason.contains("checksum")) << reason.toStdString();
}

} // namespace
