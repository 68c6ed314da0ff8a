// packtool and the minisign tool use each other's keys and signatures.
#include "zip_builder.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

struct ToolRun {
    int status = -1;
    QString out;
    QString err;
};

ToolRun Start(const QString &program, const QStringList &arguments, const QByteArray &input = {})
{
    QProcess process;
    process.start(program, arguments);
    ToolRun run;
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.status = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

ToolRun Packtool(const QStringList &arguments, const QByteArray &input = {})
{
    return Start(PACKTOOL_PATH, arguments, input);
}

class MinisignInterop : public ::testing::Test {
protected:
    void SetUp() override
    {
        minisign = QStandardPaths::findExecutable("minisign");
        if (minisign.isEmpty())
            GTEST_SKIP() << "minisign is not installed (scripts/install-deps.sh installs it)";
        Write("setup.zip", BuildZip({CraftedEntry::Deflated("setup.sh", "#!/bin/sh\necho installed\n")}));
    }
    QString File(const QString &name) const { return dir.filePath(name); }
    void Write(const QString &name, const QByteArray &bytes) const
    {
        QFile file(File(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }
    QByteArray Read(const QString &name) const
    {
        QFile file(File(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    ToolRun Minisign(const QStringList &arguments, const QByteArray &input = {}) const
    {
        return Start(minisign, arguments, input);
    }
    // A key pair made by minisign without a password.
    void MinisignKeys(const QString &name) const
    {
        const ToolRun run = Minisign({"-G", "-W", "-p", File(name + ".pub"), "-s", File(name + ".key")});
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
    }
    void ExpectVerifies(const QString &archive, const QString &publicKey, const QString &trusted) const
    {
        const ToolRun run = Packtool({"verify", "--public-key", File(publicKey), File(archive)});
        EXPECT_EQ(run.status, 0) << run.err.toStdString();
        EXPECT_TRUE(run.out.contains("trusted comment: " + trusted)) << run.out.toStdString();
    }

    QTemporaryDir dir;
    QString minisign;
};

TEST_F(MinisignInterop, PacktoolSignsWithAMinisignKeyAndMinisignChecksTheArchive)
{
    MinisignKeys("publisher");
    const ToolRun sign =
        Packtool({"sign", "--key", File("publisher.key"), File("setup.zip"), "-o", File("signed.zip")});
    ASSERT_EQ(sign.status, 0) << sign.err.toStdString();
    ExpectVerifies("signed.zip", "publisher.pub", "timestamp:");
    // The key id packtool prints is the one minisign writes into the public key's comment,
    // where minisign leaves out leading zeros (one key in 16 has one).
    const QString written = QString::fromLatin1(Read("publisher.pub")).section('\n', 0, 0).section(' ', -1);
    EXPECT_LE(written.size(), 16);
    const QString keyId = written.rightJustified(16, u'0');
    EXPECT_TRUE(sign.out.contains("signed by key " + keyId)) << sign.out.toStdString();
    EXPECT_EQ(Read("setup.zip").chopped(2), Read("signed.zip").left(Read("setup.zip").size() - 2));

    // The unsigned archive back, and the comment as a .minisig file beside it.
    const QByteArray signedBytes = Read("signed.zip");
    const qsizetype commentLength =
        qFromLittleEndian<quint16>(signedBytes.constData() + Read("setup.zip").size() - 2);
    Write("stripped.zip", signedBytes.left(signedBytes.size() - commentLength - 2) + QByteArray(2, '\0'));
    Write("stripped.zip.minisig", signedBytes.right(commentLength));
    EXPECT_EQ(Read("stripped.zip"), Read("setup.zip"));
    const ToolRun check = Minisign({"-V", "-p", File("publisher.pub"), "-m", File("stripped.zip")});
    EXPECT_EQ(check.status, 0) << check.err.toStdString() << check.out.toStdString();
}

TEST_F(MinisignInterop, MinisignSignsWithAPacktoolKey)
{
    const ToolRun keygen = Packtool({"keygen", "-o", File("publisher")});
    ASSERT_EQ(keygen.status, 0) << keygen.err.toStdString();
    EXPECT_TRUE(QFile::permissions(File("publisher.key")) ==
                (QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser));
    const ToolRun sign =
        Minisign({"-S", "-s", File("publisher.key"), "-m", File("setup.zip"), "-t", "made by minisign"});
    ASSERT_EQ(sign.status, 0) << sign.err.toStdString();
    const ToolRun check = Minisign({"-V", "-p", File("publisher.pub"), "-m", File("setup.zip")});
    EXPECT_EQ(check.status, 0) << check.err.toStdString();
    ASSERT_EQ(Packtool({"sign", "--signature", File("setup.zip.minisig"), "--public-key",
                        File("publisher.pub"), File("setup.zip"), "-o", File("signed.zip")})
                  .status,
              0);
    ExpectVerifies("signed.zip", "publisher.pub", "made by minisign");
}

// Signatures made by `minisign -S`, hashed (the default) and legacy (-l), are embedded and hold.
TEST_F(MinisignInterop, MinisignSignaturesAreEmbeddedAndHold)
{
    MinisignKeys("publisher");
    for (const QStringList &mode : {QStringList{}, QStringList{"-l"}}) {
        const ToolRun sign = Minisign(QStringList{"-S"} + mode +
                                      QStringList{"-s", File("publisher.key"), "-m", File("setup.zip"), "-x",
                                                  File("setup.sig"), "-t", "mode " + mode.join("")});
        ASSERT_EQ(sign.status, 0) << sign.err.toStdString();
        const ToolRun embed = Packtool({"sign", "--signature", File("setup.sig"), "--public-key",
                                        File("publisher.pub"), File("setup.zip"), "-o", File("signed.zip")});
        ASSERT_EQ(embed.status, 0) << embed.err.toStdString();
        ExpectVerifies("signed.zip", "publisher.pub", "mode " + mode.join(""));
    }
}

// A key minisign protects with a password: packtool reads the password from standard input, as
// minisign does, and a wrong one signs nothing.
TEST_F(MinisignInterop, PasswordProtectedMinisignKey)
{
    const ToolRun keygen = Minisign({"-G", "-p", File("publisher.pub"), "-s", File("publisher.key")},
                                    "open sesame\nopen sesame\n");
    ASSERT_EQ(keygen.status, 0) << keygen.err.toStdString();
    const ToolRun wrong =
        Packtool({"sign", "--key", File("publisher.key"), File("setup.zip"), "-o", File("signed.zip")},
                 "open simsim\n");
    EXPECT_EQ(wrong.status, 1);
    EXPECT_TRUE(wrong.err.contains("the password is wrong")) << wrong.err.toStdString();
    EXPECT_FALSE(QFile::exists(File("signed.zip")));
    const ToolRun sign =
        Packtool({"sign", "--key", File("publisher.key"), File("setup.zip"), "-o", File("signed.zip")},
                 "open sesame\n");
    ASSERT_EQ(sign.status, 0) << sign.err.toStdString();
    ExpectVerifies("signed.zip", "publisher.pub", "timestamp:");
}

TEST_F(MinisignInterop, ASignatureOfAnotherFileIsNotEmbedded)
{
    MinisignKeys("publisher");
    Write("other.zip", BuildZip({CraftedEntry::Stored("other.txt", "other")}));
    ASSERT_EQ(Minisign({"-S", "-s", File("publisher.key"), "-m", File("other.zip")}).status, 0);
    const ToolRun embed = Packtool({"sign", "--signature", File("other.zip.minisig"), "--public-key",
                                    File("publisher.pub"), File("setup.zip"), "-o", File("signed.zip")});
    EXPECT_EQ(embed.status, 1);
    EXPECT_TRUE(embed.err.contains("the signature does not match the archive")) << embed.err.toStdString();
    EXPECT_FALSE(QFile::exists(File("signed.zip")));
}

TEST_F(MinisignInterop, VerifyNamesWhyItRefuses)
{
    MinisignKeys("publisher");
    MinisignKeys("other");
    ASSERT_EQ(
        Packtool({"sign", "--key", File("other.key"), File("setup.zip"), "-o", File("signed.zip")}).status,
        0);
    const ToolRun run = Packtool({"verify", "--public-key", File("publisher.pub"), File("signed.zip")});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains("the archive is signed by key")) << run.err.toStdString();
    const ToolRun twice = Packtool({"sign", "--key", File("publisher.key"), File("signed.zip")});
    EXPECT_EQ(twice.status, 1);
    EXPECT_TRUE(twice.err.contains("has a ZIP comment already")) << twice.err.toStdString();
}

} // namespace
