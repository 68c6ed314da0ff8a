#pragma once

#include "entry_names.h"

#include <QDateTime>
#include <QFile>
#include <QSet>

#include <memory>

// One created output file, written in large blocks; times and permissions are set through
// the open handle so they reach the file that was written, whatever happens to its path.
class TOutputFile {
public:
    explicit TOutputFile(int Handle);

    // False when the disk took fewer bytes than given.
    bool Write(const char *Data, qint64 Count);
    void SetModifiedTime(const QDateTime &Time);
    // Replaces the permission bits (the low nine of Mode).
    void SetUnixMode(uint Mode);
    void ClearWriteBits();

private:
    QFile FFile;
};

// The destination folder of one extraction. The destination itself is trusted and made with
// all its levels; every level below it is opened relative to the one above without following
// symbolic links, so no entry can land outside it through a link the folder already holds.
class TOutputFolder {
public:
    explicit TOutputFolder(const QString &FullPath);
    ~TOutputFolder();
    TOutputFolder(const TOutputFolder &) = delete;
    TOutputFolder &operator=(const TOutputFolder &) = delete;

    QString FullPath(const TEntryTarget &Target) const;
    // Makes every missing level of a folder entry; a level that cannot be made is passed over.
    // A full path as long as no file may have fails with "Cannot create folder".
    void MakeFolders(const TEntryTarget &Target);
    // Makes the levels and creates or truncates the file; fails with "Cannot create file".
    std::unique_ptr<TOutputFile> CreateFile(const TEntryTarget &Target);

private:
    // The opened innermost level (owned by this object), or -1 with errno set.
    int OpenLevels(const QStringList &Levels, const QString &Folder);
    int WalkLevels(const QStringList &Levels);
    int OpenRoot();
    void RememberMade(const QString &Folder);

    QString FPath;
    int FRootHandle = -1;
    QString FCachedFolder;
    int FCachedHandle = -1;
    // Folders below the destination already made or opened in this extraction. Opening one
    // again takes a single call instead of one per level, so an archive of many entries in
    // deep folders costs time linear in its names. Dropped when it outgrows its budget.
    QSet<QString> FMade;
    qsizetype FMadeChars = 0;
    static constexpr qsizetype MadeBudgetChars = 4 << 20;
};
