#include "extraction_fixture.h"

#include "failure.h"
#include "zip_extract.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <sys/stat.h>

FileTree ReadTree(const QString &Folder)
{
    FileTree Tree;
    const QDir Root(Folder);
    QDirIterator It(Folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (It.hasNext()) {
        const QString Path = It.next();
        const QFileInfo Info = It.fileInfo();
        const QString Relative = Root.relativeFilePath(Path);
        if (Info.isDir() && !Info.isSymLink()) {
            Tree.insert(Relative + u'/', {});
        } else {
            QFile File(Path);
            EXPECT_TRUE(File.open(QIODevice::ReadOnly)) << Path.toStdString();
            Tree.insert(Relative, File.readAll());
        }
    }
    return Tree;
}

uint ModeOf(const QString &Path)
{
    struct stat Status;
    EXPECT_EQ(stat(QFile::encodeName(Path).constData(), &Status), 0) << Path.toStdString();
    return Status.st_mode & 07777;
}

void ExtractionTest::WriteArchive(const QByteArray &Zip) const
{
    QFile File(Archive());
    ASSERT_TRUE(File.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(File.write(Zip), Zip.size());
}

int ExtractionThreads()
{
    return qEnvironmentVariableIntValue("ARCHIVE_TEST_THREADS");
}

std::optional<QString> ExtractionTest::Extract(int Encoding) const
{
    try {
        TExtractOptions Options;
        Options.Threads = ExtractionThreads();
        ExtractZipFile(Archive(), Destination(), Encoding, Options);
    } catch (const Failure &Error) {
        return Error.Message();
    }
    return std::nullopt;
}

std::optional<QString> ExtractionTest::Extract(const QByteArray &Zip) const
{
    WriteArchive(Zip);
    return Extract();
}
