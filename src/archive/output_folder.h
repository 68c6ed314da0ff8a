#pragma once

#include "entry_names.h"

#include <QDateTime>
#include <QFile>
#include <QSet>

#include <deque>
#include <memory>

// One created output file, written in large blocks; times and permissions are set through
// the open handle so they reach the file that was written, whatever happens to its path.
// Made on one thread and written on another, so it holds nothing tied to a thread.
class TOutputFile {
public:
    explicit TOutputFile(int Handle) : FHandle(Handle) {}
    ~TOutputFile();
    TOutputFile(const TOutputFile &) = delete;
    TOutputFile &operator=(const TOutputFile &) = delete;

    // False when the disk took fewer bytes than given.
    bool Write(const char *Data, qint64 Count);
    void SetModifiedTime(const QDateTime &Time);
    // Replaces the permission bits (the low nine of Mode).
    void SetUnixMode(uint Mode);
    void ClearWriteBits();

private:
    int FHandle;
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

    // Entries run ahead of a failure when they are written in parallel. What this folder
    // newly made is noted with the entry that made it, so that Undo can remove what the
    // entries after a failure made (files it replaced keep what was written to them).
    // Index -1: nothing is noted.
    void BeginEntry(int Index) { FEntry = Index; }
    // Notes before Index are dropped: no failure can come before it any more.
    void ForgetBefore(int Index);
    void Undo(int AfterIndex);

private:
    // Levels[First, End) were made, or, with a file name, that file in Levels.
    struct TMade {
        int Index;
        QStringList Levels;
        qsizetype First;
        qsizetype End;
        QString FileName;
    };
    void NoteMade(const QStringList &Levels, qsizetype First, qsizetype End, const QString &FileName);

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
    int FEntry = -1;
    std::deque<TMade> FNewlyMade;
    static constexpr qsizetype MadeBudgetChars = 1 << 20;
};
