// Archives the package's key does not vouch for are never unpacked or started, and a disk
// without room is found before anything is written.
#include "archive_trust.h"
#include "fixtures.h"
#include "python_server.h"
#include "quit_signal.h"
#include "shell.h"
#include "test_authorities.h"
#include "window_fixture.h"
#include "zip_builder.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

namespace {

// A publisher's key pair made by packtool, and archives signed with it.
class Publisher {
public:
    Publisher()
    {
        Packtool({"keygen", "-o", keys_.filePath("publisher")});
        QFile key(keys_.filePath("publisher.pub"));
        key.open(QIODevice::ReadOnly);
        publicKey_ = QString::fromLatin1(key.readAll().split('\n').value(1));
    }
    QString PublicKey() const { return publicKey_; }
    QByteArray Sign(const QByteArray &archive) const
    {
        const QString path = keys_.filePath("archive.zip");
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(archive);
        file.close();
        Packtool({"sign", "--key", keys_.filePath("publisher.key"), path});
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }

private:
    static void Packtool(const QStringList &arguments)
    {
        QProcess packtool;
        packtool.start(QStringLiteral(PACKTOOL_PATH), arguments);
        packtool.closeWriteChannel();
        ASSERT_TRUE(packtool.waitForFinished(20000));
        ASSERT_EQ(packtool.exitCode(), 0) << packtool.readAllStandardError().toStdString();
    }

    QTemporaryDir keys_;
    QString publicKey_;
};

QByteArray Product()
{
    return StoredZip({{SetupName, MarkerScript(), 0755}, {"readme.txt", "hello"}});
}

class TrustTest : public WindowTest {
protected:
    void Install(const QByteArray &archive)
    {
        ServeVersion("/soft/setup.zip", archive);
        Open();
        form->ComboBox1->setCurrentIndex(0);
        form->Button1Click();
    }
    QString Log() const
    {
        QFile file(Download() + QStringLiteral("installer.log"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
};

TEST_F(TrustTest, AnArchiveSignedWithThePackagesKeyInstalls)
{
    const Publisher publisher;
    publicKey = publisher.PublicKey();
    Install(publisher.Sign(Product()));
    EXPECT_TRUE(notices.isEmpty()) << notices.join(u'\n').toStdString();
    EXPECT_TRUE(AwaitFile(Download() + QStringLiteral("setup/ran.txt")));
    EXPECT_TRUE(Log().contains(QStringLiteral("signature: "))) << Log().toStdString();
}

TEST_F(TrustTest, AnArchiveTheKeyDoesNotVouchForIsDeletedAndNothingRuns)
{
    const Publisher publisher;
    const Publisher stranger;
    const QByteArray signedProduct = publisher.Sign(Product());
    QByteArray altered = signedProduct;
    altered[altered.indexOf("hello")] = 'j'; // in an entry's data
    const std::pair<const char *, QByteArray> cases[] = {
        {"unsigned", Product()},
        {"one byte altered", altered},
        {"signed by another key", stranger.Sign(Product())},
    };
    for (const auto &[name, archive] : cases) {
        SCOPED_TRACE(name);
        ResetQuit();
        notices.clear();
        QDir(Download()).removeRecursively();
        publicKey = publisher.PublicKey();
        Install(archive);
        EXPECT_EQ(notices, QStringList{QString::fromUtf16(TamperedArchiveNotice)});
        EXPECT_TRUE(QuitRequested());
        EXPECT_FALSE(QFileInfo::exists(Download() + QStringLiteral("setup.zip")));
        EXPECT_FALSE(QFileInfo::exists(Download() + QStringLiteral("setup.zip.tmp")));
        EXPECT_TRUE(QDir(Download() + QStringLiteral("setup")).isEmpty());
        form.reset();
    }
    QThread::msleep(1200); // a setup program started by mistake would have written by now
    EXPECT_FALSE(QFileInfo::exists(Download() + QStringLiteral("setup/ran.txt")));
}

// The download is hashed on its way in, and a cut-off one is started over or resumed: the
// check must cover every byte of the archive either way, those before the cut and after it.
TEST_F(TrustTest, ASignedDownloadCutOffHalfwayIsCheckedWhole)
{
    const Publisher publisher;
    // Megabytes, so that most of it is hashed during the download.
    const QByteArray archive = publisher.Sign(
        StoredZip({{SetupName, MarkerScript(), 0755}, {"data.bin", Noise(3 << 20, 17)}, {"readme.txt", "hello"}}));
    const qsizetype cut = archive.size() / 2;
    QByteArray alteredAfterCut = archive;
    alteredAfterCut[archive.indexOf("hello")] = 'j';
    QByteArray alteredBeforeCut = archive;
    alteredBeforeCut[cut / 2] = char(alteredBeforeCut[cut / 2] ^ 1); // in data.bin

    // The first reply offers ranges and is cut off; the second carries the rest, from a
    // server that may serve other bytes than before.
    const auto resumed = [&](const QByteArray &first, const QByteArray &rest) {
        ScriptServer::Reply begun = ScriptServer::Ok(first, "application/zip");
        begun.head += "Accept-Ranges: bytes\r\nETag: \"v1\"\r\n";
        begun.cutAfter = cut;
        const ScriptServer::Reply remainder{
            "HTTP/1.1 206 Partial Content\r\nContent-Type: application/zip\r\nContent-Length: " +
                QByteArray::number(rest.size() - cut) + "\r\nContent-Range: bytes " + QByteArray::number(cut) +
                "-" + QByteArray::number(rest.size() - 1) + "/" + QByteArray::number(rest.size()) + "\r\n",
            rest.mid(cut)};
        return QList<ScriptServer::Reply>{begun, remainder};
    };
    ScriptServer::Reply cutOff = ScriptServer::Ok(alteredBeforeCut, "application/zip");
    cutOff.cutAfter = cut;
    struct Case {
        const char *name;
        QList<ScriptServer::Reply> replies;
        bool installs;
        const char *logged;
    };
    const Case cases[] = {
        {"started over, other bytes before the cut", {cutOff, ScriptServer::Ok(archive, "application/zip")}, true,
         "retry 1 of 5"},
        {"resumed", resumed(archive, archive), true, "resuming at byte"},
        {"resumed, a byte altered after the cut", resumed(archive, alteredAfterCut), false, "resuming at byte"},
        {"resumed, a byte altered before the cut", resumed(alteredBeforeCut, archive), false, "resuming at byte"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ResetQuit();
        notices.clear();
        QDir(Download()).removeRecursively();
        ServeVersion("/soft/setup.zip", {});
        for (const ScriptServer::Reply &reply : c.replies)
            server.Next("/soft/setup.zip", reply);
        publicKey = publisher.PublicKey();
        Open();
        form->ComboBox1->setCurrentIndex(0);
        form->Button1Click();
        if (c.installs) {
            EXPECT_TRUE(notices.isEmpty()) << notices.join(u'\n').toStdString();
            EXPECT_TRUE(AwaitFile(Download() + QStringLiteral("setup/ran.txt")));
        } else {
            EXPECT_EQ(notices, QStringList{QString::fromUtf16(TamperedArchiveNotice)});
            EXPECT_FALSE(QFileInfo::exists(Download() + QStringLiteral("setup.zip")));
            EXPECT_TRUE(QDir(Download() + QStringLiteral("setup")).isEmpty());
        }
        EXPECT_TRUE(Log().contains(QString::fromLatin1(c.logged))) << Log().toStdString();
        form.reset();
    }
}

TEST_F(TrustTest, WithoutAKeyAnUnsignedArchiveInstallsAsBefore)
{
    Install(Product());
    EXPECT_TRUE(notices.isEmpty()) << notices.join(u'\n').toStdString();
    EXPECT_TRUE(AwaitFile(Download() + QStringLiteral("setup/ran.txt")));
}

TEST_F(TrustTest, ADownloadThatWouldNotFitWritesNothing)
{
    if (!SmallProgramFolder(20))
        GTEST_SKIP() << "mounting a small file system needs root";
    // 8 MiB and the 16 MiB margin do not fit in 20 MiB.
    Install(StoredZip({{SetupName, MarkerScript(), 0755}, {"big.bin", QByteArray(8 << 20, 'b')}}));
    EXPECT_EQ(notices,
              QStringList{QString::fromUtf16(u"磁盘空间不足：需要 25 MB，可用 19 MB，请清理磁盘后重试")});
    EXPECT_TRUE(QuitRequested());
    EXPECT_FALSE(QFileInfo::exists(Download() + QStringLiteral("setup.zip.tmp")));
    EXPECT_FALSE(QFileInfo::exists(Download() + QStringLiteral("setup.zip")));
}

TEST_F(TrustTest, AnArchiveThatWouldNotFitUnpackedWritesNothing)
{
    if (!SmallProgramFolder(20))
        GTEST_SKIP() << "mounting a small file system needs root";
    // A few kilobytes to download, 30 MiB declared to unpack.
    Install(BuildZip({CraftedEntry::Stored(SetupName, MarkerScript()),
                      CraftedEntry::Deflated("zeros.bin", QByteArray(30 << 20, '\0'))}));
    ASSERT_EQ(notices.size(), 1);
    EXPECT_TRUE(notices[0].startsWith(QString::fromUtf16(u"磁盘空间不足：需要 47 MB，可用 ")))
        << notices[0].toStdString();
    EXPECT_TRUE(QuitRequested());
    EXPECT_TRUE(QDir(Download() + QStringLiteral("setup")).isEmpty());
    EXPECT_TRUE(QFileInfo::exists(Download() + QStringLiteral("setup.zip"))); // until the window closes
}

TEST_F(TrustTest, AnHttpsAddressIsDownloadedOverVerifiedTls)
{
#ifdef Q_OS_WIN
    GTEST_SKIP() << "the test authorities are made by the host's openssl, which a Windows program "
                    "cannot start";
#endif
    const TestAuthorities authorities;
    QTemporaryDir files;
    QFile archive(files.filePath("setup.zip"));
    ASSERT_TRUE(archive.open(QIODevice::WriteOnly));
    archive.write(Product());
    archive.close();
    const std::pair<const char *, QStringList> cases[] = {
        {"good", {}},
        {"unknown",
         {QString::fromUtf16(
             u"下载失败！可能网络不通或磁盘空间不够，请点击上方图片进入网站联系客服反馈处理")}},
    };
    for (const auto &[certificate, wanted] : cases) {
        SCOPED_TRACE(certificate);
        ResetQuit();
        notices.clear();
        PythonServer tls(files.path(), authorities.Files(QString::fromLatin1(certificate)));
        server.On(ListTarget, ScriptServer::Ok("1`Version one"));
        server.On(LookupTarget, ScriptServer::Ok(tls.Url("/setup.zip", "HTTPS", "localhost").toLatin1()));
        Open();
        form->ComboBox1->setCurrentIndex(0);
        form->Button1Click();
        EXPECT_EQ(notices, wanted);
        if (wanted.isEmpty()) {
            EXPECT_TRUE(AwaitFile(Download() + QStringLiteral("setup/ran.txt")));
        }
        form.reset();
    }
}

} // namespace
