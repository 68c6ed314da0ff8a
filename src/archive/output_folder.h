#pragma once

#include "entry_names.h"

#include <QDateTime>
#include <QStringList>

#include <deque>
#include <memory>

// One created output file, written in large blocks; times and permissions are set through
// the open handle so they reach the file that was written, whatever happens to its path.
// Made on one thread and written on another, so it holds nothing tied to a thread.
class TOutputFile {
public:
    // Takes over a C runtime descriptor opened for writing.
    explicit TOutputFile(int Handle) : FHandle(Handle) {}
    ~TOutputFile();
    TOutputFile(const TOutputFile &) = delete;
    TOutputFile &operator=(const TOutputFile &) = delete;

    // False when the disk took fewer bytes than given.
    bool Write(const char *Data, qint64 Count);
    void SetModifiedTime(const QDateTime &Time);
    // Replaces the permission bits (the low nine of Mode).
    void SetUnixMode(uint Mode);
    // The attributes of an entry made on an MS-DOS-style host: the low byte of its external
    // attributes without the volume-label bit. They replace the file's own.
    void SetDosAttributes(uint Attributes);

private:
    friend class TOutputFolder; // names an unnamed file through its handle
    int FHandle;
};

// The destination folder of one extraction. The destination itself is trusted and made with
// all its levels; no level below it is reached through a symbolic link or other reparse point,
// so no entry can land outside it through a link the folder already holds.
class TOutputFolder {
public:
    explicit TOutputFolder(const QString &FullPath);
    ~TOutputFolder();
    TOutputFolder(const TOutputFolder &) = delete;
    TOutputFolder &operator=(const TOutputFolder &) = delete;

    QString FullPath(const TEntryTarget &Target) const;
    // Makes every missing level of a folder entry; a level that cannot be made is passed over.
    // A full path longer than the system allows fails with "Cannot create folder" (or the
    // system's own path failure).
    void MakeFolders(const TEntryTarget &Target);
    // Makes the levels and creates or truncates the file; fails with "Cannot create file".
    std::unique_ptr<TOutputFile> CreateFile(const TEntryTarget &Target);
    // A file without a name in the destination, written before its entry's turn and named in
    // it; if it never is, it is gone with its handle. Null where the system or the file system
    // has no such files.
    std::unique_ptr<TOutputFile> CreateUnnamedFile();
    // Makes the levels and gives File the target's name, where nothing stands at it yet. False
    // otherwise, with nothing named: the entry then goes through CreateFile, whose failure is
    // the one to report.
    bool NameFile(const TEntryTarget &Target, const TOutputFile &File);

    // Entries run ahead of a failure when they are written in parallel. What this folder
    // newly made is noted with the entry that made it, so that Undo can remove what the
    // entries after a failure made (files it replaced keep what was written to them).
    // Index -1: nothing is noted.
    void BeginEntry(int Index) { FEntry = Index; }
    // Notes before Index are dropped: no failure can come before it any more.
    void ForgetBefore(int Index);
    void Undo(int AfterIndex);

private:
    // The system's handles of the levels opened so far (output_folder_*.cpp).
    class TOpenLevels;

    // Levels[First, End) were made, or, with a file name, that file in Levels.
    struct TMade {
        int Index;
        QStringList Levels;
        qsizetype First;
        qsizetype End;
        QString FileName;
    };
    void NoteMade(const QStringList &Levels, qsizetype First, qsizetype End, const QString &FileName);
    // Undo's removals, through the levels held open (output_folder_*.cpp).
    void RemoveMadeFile(const QStringList &Levels, const QString &FileName);
    void RemoveMadeFolder(const QStringList &Parent, const QString &Name);

    QString FPath;
    std::unique_ptr<TOpenLevels> FOpen;
    int FEntry = -1;
    std::deque<TMade> FNewlyMade;
};
