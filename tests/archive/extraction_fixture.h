#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <optional>

// What a folder holds: relative path -> content; folders appear as "path/" with no content.
using FileTree = QMap<QString, QByteArray>;
FileTree ReadTree(const QString &Folder);
// The permission bits of a file, as stat gives them.
uint ModeOf(const QString &Path);

// The threads every extraction of the tests uses: ARCHIVE_TEST_THREADS, else one per core.
// The tests run once on one thread and once on several.
int ExtractionThreads();

// A scratch folder with the archive at Archive() and the destination at Destination().
class ExtractionTest : public ::testing::Test {
protected:
    QString Archive() const { return Scratch.filePath("archive.zip"); }
    QString Destination() const { return Scratch.filePath("out"); }
    QString Outside() const { return Scratch.path(); }
    void WriteArchive(const QByteArray &Zip) const;
    // Runs the extraction with GBK names; the failure's message, or nothing on success.
    std::optional<QString> Extract(int Encoding = 936) const;
    std::optional<QString> Extract(const QByteArray &Zip) const;
    FileTree Extracted() const { return ReadTree(Destination()); }

    QTemporaryDir Scratch;
};

inline void PrintTo(const QString &Text, std::ostream *Out)
{
    *Out << '"' << Text.toStdString() << '"';
}

namespace {
// A table case prints as what it checks, so that its test is named after that.
template <typename Case>
requires requires(const Case &Value)
{
    Value.What;
}
void PrintTo(const Case &Value, std::ostream *Out)
{
    *Out << Value.What;
}
} // namespace
