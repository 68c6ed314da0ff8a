// Archives made by real tools (Python's zipfile, Info-ZIP zip, 7-Zip) extract to what went in.
#include "extraction_fixture.h"

#include "failure.h"
#include "zip_extract.h"

#include <QDateTime>
#include <QFileInfo>
#include <QProcess>
#include <sys/stat.h>
#include <tuple>

namespace {

class ToolArchives : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Made = new QTemporaryDir;
        QProcess Script;
        Script.start(PYTHON_EXECUTABLE, {ARCHIVE_FIXTURE_SCRIPT, Made->path()});
        ASSERT_TRUE(Script.waitForFinished(60000));
        ASSERT_EQ(Script.exitCode(), 0) << Script.readAllStandardError().toStdString();
    }
    static void TearDownTestSuite()
    {
        delete Made;
        Made = nullptr;
    }

    // Extracts the named archive into a fresh folder and returns what it holds.
    FileTree ExtractTool(const QString &Archive)
    {
        try {
            ExtractZipFile(Made->filePath(Archive), Out.path(), 936);
        } catch (const Failure &Error) {
            ADD_FAILURE() << Archive.toStdString() << ": " << Error.Message().toStdString();
        }
        return ReadTree(Out.path());
    }
    static FileTree SourceTree(const QStringList &TopLevels)
    {
        FileTree Tree;
        const FileTree All = ReadTree(Made->filePath("src"));
        for (auto It = All.begin(); It != All.end(); ++It) {
            if (TopLevels.contains(It.key().section(u'/', 0, 0)))
                Tree.insert(It.key(), It.value());
        }
        return Tree;
    }
    QFileInfo Extracted(const QString &Name) const { return QFileInfo(Out.path() + u'/' + Name); }

    static QTemporaryDir *Made;
    QTemporaryDir Out;
};

QTemporaryDir *ToolArchives::Made = nullptr;

const QStringList Everything{"a", "empty-folder", "empty.txt", "large.bin", "run.sh"};
const QStringList NoEmptyFolder{"a", "empty.txt", "large.bin", "run.sh"};
const QDateTime Stamp = QDateTime::fromSecsSinceEpoch(1600000000);

TEST_F(ToolArchives, InfoZipAnd7ZipArchivesExtractTheTreeWithModesAndTimes)
{
    // p7zip writes DOS times in standard time also when daylight saving time is in force.
    constexpr qint64 SevenZipSkew = 3600;
    const QList<std::tuple<QString, QStringList, qint64>> Cases{
        {"infozip.zip", Everything, 0},
        {"infozip_stored.zip", Everything, 0},
        {"infozip_nodirs.zip", NoEmptyFolder, 0},
        {"infozip_streamed.zip", NoEmptyFolder, 0},
        {"7z.zip", Everything + QStringList{QString::fromUtf8("世界.txt")}, SevenZipSkew},
        {"7z_stored.zip", Everything, SevenZipSkew},
    };
    for (const auto &[Archive, TopLevels, Skew] : Cases) {
        QTemporaryDir Fresh;
        Out.swap(Fresh);
        EXPECT_EQ(ExtractTool(Archive), SourceTree(TopLevels)) << Archive.toStdString();
        EXPECT_EQ(ModeOf(Extracted("run.sh").filePath()), 0750u) << Archive.toStdString();
        EXPECT_EQ(ModeOf(Extracted("a/readme.txt").filePath()), 0600u) << Archive.toStdString();
        EXPECT_LE(qAbs(Extracted("a/b/c.txt").lastModified().secsTo(Stamp)), Skew) << Archive.toStdString();
    }
}

TEST_F(ToolArchives, PythonArchivesExtractAsExpected)
{
    for (const QString Archive : {"python_mixed.zip", "python_descriptor.zip"}) {
        QTemporaryDir Fresh;
        Out.swap(Fresh);
        EXPECT_EQ(ExtractTool(Archive), ReadTree(Made->filePath("expected/" + Archive)))
            << Archive.toStdString();
    }
}

TEST_F(ToolArchives, NamesFromGbkUtf8AndUnicodePathFields)
{
    EXPECT_EQ(ExtractTool("python_names.zip"), (FileTree{{QString::fromUtf8("你好.txt"), "gbk"},
                                                         {QString::fromUtf8("世界.txt"), "utf-8 flag"},
                                                         {QString::fromUtf8("乙.txt"), "unicode path"},
                                                         {QString::fromUtf8("丙.txt"), "central name"}}));
}

TEST_F(ToolArchives, DosAttributesAndUnixModes)
{
    ExtractTool("python_hosts.zip");
    const QDateTime LeapDay(QDate(2020, 2, 29), QTime(13, 45, 58));
    const mode_t Mask = umask(0);
    umask(Mask);
    const QList<std::pair<QString, uint>> Cases{{"readonly.txt", 0444 & ~Mask},
                                                {"archive.txt", 0666 & ~Mask},
                                                {"run.sh", 0750},
                                                {"link", 0666 & ~Mask}};
    for (const auto &[Name, Mode] : Cases) {
        EXPECT_EQ(ModeOf(Extracted(Name).filePath()), Mode) << Name.toStdString();
        EXPECT_EQ(Extracted(Name).lastModified(), LeapDay) << Name.toStdString();
        EXPECT_FALSE(Extracted(Name).isSymLink());
    }
}

} // namespace
