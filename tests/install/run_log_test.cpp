#include "run_log.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QByteArray Contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(RunLog, HoldsLinesUntilItsFolderIsKnownAndAppendsRunAfterRun)
{
    QTemporaryDir folder;
    {
        RunLog log;
        log.Note(QStringLiteral("first run starts"));
        log.Open(folder.path());
        log.Note(QStringLiteral("两行\r\n文字"));
    }
    RunLog second;
    second.Open(folder.path());
    second.Note(QStringLiteral("second run"));

    const QList<QByteArray> lines = Contents(folder.filePath("installer.log")).split('\n');
    ASSERT_EQ(lines.size(), 4) << lines.join('|').toStdString();
    EXPECT_TRUE(lines[0].endsWith("  first run starts"));
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("  两行\\n文字").toUtf8()));
    EXPECT_TRUE(lines[2].endsWith("  second run"));
    EXPECT_EQ(lines[3], "");
    // A stamp such as "2026-12-10 04:30:01.123".
    EXPECT_EQ(lines[0].indexOf("  "), 23);
}

TEST(RunLog, KeepsTheNewestMegabyteInWholeLines)
{
    QTemporaryDir folder;
    RunLog log;
    log.Open(folder.path());
    const QString filler(200, u'x');
    for (int i = 0; i < 7000; ++i)
        log.Note(QStringLiteral("line %1 ").arg(i, 5, 10, QChar(u'0')) + filler);
    const QByteArray kept = Contents(log.Path());
    EXPECT_LE(kept.size(), RunLog::KeptBytes + RunLog::KeptBytes / 16);
    EXPECT_GE(kept.size(), RunLog::KeptBytes / 2);
    EXPECT_TRUE(kept.endsWith("line 06999 " + filler.toUtf8() + "\n"));
    EXPECT_EQ(kept.indexOf("line 00000"), -1);
    // Starts with a whole line: a stamp.
    EXPECT_TRUE(QChar(kept[0]).isDigit()) << kept.left(40).toStdString();
    EXPECT_EQ(kept.mid(4, 1), "-");
}

} // namespace
