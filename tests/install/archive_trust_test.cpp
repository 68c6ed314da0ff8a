// The install flow's signature step: what it keeps and what it deletes.
#include "archive_trust.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

// An empty archive: its end record alone.
const QByteArray EmptyArchive = QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0');

class DownloadedArchive : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(EmptyArchive), EmptyArchive.size());
    }
    QString Sign(const SecretKey &key)
    {
        DataHash hash;
        hash.Add(EmptyArchive.constData(), EmptyArchive.size());
        const QByteArray text = SignatureText(SignMessage(key, hash.Result(), true, "version 1"), "test");
        return EmbedSignature(path, text, path);
    }
    QTemporaryDir dir;
    const QString path = dir.filePath("setup.zip");
    const std::pair<PublicKey, SecretKey> keys = GenerateKeyPair();
    const QString publicKey = QString::fromLatin1(PublicKeyLine(keys.first));
    ArchiveVerdict verdict;
};

TEST_F(DownloadedArchive, WithoutAKeyIsAcceptedUnchecked)
{
    EXPECT_TRUE(AcceptDownloadedArchive(path, {}, verdict));
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_TRUE(verdict.keyId.isEmpty());
}

TEST_F(DownloadedArchive, SignedByTheKeyIsKept)
{
    ASSERT_EQ(Sign(keys.second), QString());
    EXPECT_TRUE(AcceptDownloadedArchive(path, publicKey, verdict)) << verdict.reason.toStdString();
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_EQ(verdict.trustedComment, "version 1");
    EXPECT_EQ(
        ArchiveVerdictText(verdict),
        QStringLiteral("signature by key %1 holds; trusted comment: version 1").arg(KeyIdHex(keys.first.id)));
}

TEST_F(DownloadedArchive, UnsignedOrSignedByAnotherKeyIsDeleted)
{
    EXPECT_FALSE(AcceptDownloadedArchive(path, publicKey, verdict));
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_TRUE(ArchiveVerdictText(verdict).contains("the archive is not signed"));

    SetUp();
    ASSERT_EQ(Sign(GenerateKeyPair().second), QString());
    EXPECT_FALSE(AcceptDownloadedArchive(path, publicKey, verdict));
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_EQ(verdict.keyId, KeyIdHex(keys.first.id));
}

} // namespace
