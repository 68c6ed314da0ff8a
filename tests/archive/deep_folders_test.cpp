// Folder trees as deep as Linux paths may reach, and deeper: made once each, refused at once,
// and in little memory. (Windows' far shorter path limits have their own table.)
#include "extraction_fixture.h"
#include "zip_builder.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <climits>

namespace {

// A name of Levels levels "x/" as a Unicode Path field, so that it may be far longer than the
// directory's own name for it.
CraftedEntry DeepFolder(char Level, int Levels)
{
    const QByteArray Local(1, Level);
    CraftedEntry Entry = CraftedEntry::Folder(Local + '/');
    Entry.LocalName = Local;
    QByteArray Name;
    for (int At = 0; At < Levels; ++At)
        Name.append(Level).append('/');
    Entry.LocalExtra = UnicodePathField(Local, Name);
    return Entry;
}

// 65,535 folder entries alternating between two local headers whose names hold Levels levels.
QByteArray AlternatingTrees(int Levels)
{
    QList<CraftedEntry> Entries{DeepFolder('a', Levels), DeepFolder('b', Levels)};
    while (Entries.size() < 65535)
        Entries.append(Sharing(Entries[Entries.size() % 2], Entries.size() % 2));
    return BuildZip(Entries);
}

// The levels of "x/" that fit below Folder in a path shorter than the longest one allowed.
int LevelsThatFit(const QString &Folder)
{
    return int(PATH_MAX - 1 - QFile::encodeName(Folder).size() - 1) / 2;
}

TEST_F(ExtractionTest, DeepFoldersWithinTheLimitAreMadeOnceEach)
{
    const int Levels = LevelsThatFit(Destination());
    WriteArchive(AlternatingTrees(Levels));
    QElapsedTimer Timer;
    Timer.start();
    EXPECT_EQ(Extract(), std::nullopt);
    EXPECT_LT(Timer.elapsed(), 10000);
    for (const QString Level : {"a", "b"}) {
        const QString Deepest = Destination() + (u'/' + Level).repeated(Levels);
        EXPECT_TRUE(QFileInfo(Deepest).isDir()) << Level.toStdString();
        EXPECT_FALSE(QFileInfo::exists(Deepest + u'/' + Level)) << Level.toStdString();
    }
}

TEST_F(ExtractionTest, DeepFoldersOverTheLimitAreRefusedAtOnce)
{
    WriteArchive(AlternatingTrees(32000));
    QElapsedTimer Timer;
    Timer.start();
    const std::optional<QString> Failure = Extract();
    EXPECT_LT(Timer.elapsed(), 10000);
    ASSERT_TRUE(Failure);
    EXPECT_TRUE(Failure->startsWith(QString("Cannot create folder \"%1/a/a/a/").arg(Destination())));
    EXPECT_TRUE(Failure->endsWith("\". File name too long"));
    EXPECT_EQ(Extracted(), FileTree{});
}

TEST_F(ExtractionTest, FolderNamesAreBoundedLikeFileNames)
{
    const int Room = int(PATH_MAX - 1 - QFile::encodeName(Destination()).size() - 1);
    // Levels of 200 characters and one to make up the rest.
    const auto NameOfLength = [](int Length) {
        QByteArray Name;
        while (Length - Name.size() > 201)
            Name.append(QByteArray(200, 'n')).append('/');
        return Name.append(QByteArray(Length - Name.size(), 'm'));
    };
    const QByteArray Fits = NameOfLength(Room);
    const QByteArray TooLong = NameOfLength(Room + 1);
    EXPECT_EQ(Extract(BuildZip({CraftedEntry::Folder(Fits + '/')})), std::nullopt);
    EXPECT_TRUE(QFileInfo(Destination() + u'/' + QString::fromLatin1(Fits)).isDir());
    EXPECT_EQ(Extract(BuildZip({CraftedEntry::Folder(TooLong + '/')})),
              QString("Cannot create folder \"%1/%2\". File name too long")
                  .arg(Destination(), QString::fromLatin1(TooLong)));
    EXPECT_FALSE(QFileInfo::exists(Destination() + u'/' + QString::fromLatin1(TooLong)));
}

// What the program may hold at its peak: 32 MiB as shipped. Under AddressSanitizer its shadow
// memory, red zones and quarantine of freed blocks count too, and roughly double the figure
// (18 MB shipped, 33 MB sanitized on this archive). Keeping every name, 65,535 of 4 KB, would
// cost 256 MiB, four times the larger bound.
#ifdef __SANITIZE_ADDRESS__
constexpr long long PeakMemoryBoundKiB = 64 * 1024;
#else
constexpr long long PeakMemoryBoundKiB = 32 * 1024;
#endif

// Peak memory of the program unpacking the deep-folder archive, measured from outside.
TEST_F(ExtractionTest, DeepFoldersCostLittleMemory)
{
    WriteArchive(AlternatingTrees(LevelsThatFit(Destination())));
    QProcess Process;
    Process.start("/usr/bin/time", {"-f", "peak %M", ZIPEXTRACT_PATH, Archive(), Destination()});
    ASSERT_TRUE(Process.waitForFinished(60000));
    EXPECT_EQ(Process.exitCode(), 0) << Process.readAllStandardError().toStdString();
    const QList<QByteArray> Lines = Process.readAllStandardError().trimmed().split('\n');
    ASSERT_TRUE(Lines.last().startsWith("peak ")) << Lines.last().toStdString();
    EXPECT_LT(Lines.last().mid(5).toLongLong(), PeakMemoryBoundKiB);
}

} // namespace
