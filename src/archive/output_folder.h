#pragma once

#include "entry_names.h"

#include <QDateTime>
#include <QFile>

#include <memory>

// One created output file, written in large blocks; times and permissions are set through
// the open handle so they reach the file that was written, whatever happens to its path.
class TOutputFile {
public:
    // Takes over a C runtime descriptor opened for writing.
    explicit TOutputFile(int Handle);

    // False when the disk took fewer bytes than given.
    bool Write(const char *Data, qint64 Count);
    void SetModifiedTime(const QDateTime &Time);
    // Replaces the permission bits (the low nine of Mode).
    void SetUnixMode(uint Mode);
    // The attributes of an entry made on an MS-DOS-style host: the low byte of its external
    // attributes without the volume-label bit. They replace the file's own.
    void SetDosAttributes(uint Attributes);

private:
    QFile FFile;
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
    void MakeFolders(const QStringList &Levels);
    // Makes the levels and creates or truncates the file; fails with "Cannot create file".
    std::unique_ptr<TOutputFile> CreateFile(const TEntryTarget &Target);

private:
    // The system's handles of the levels opened so far (output_folder_*.cpp).
    class TOpenLevels;

    QString FPath;
    std::unique_ptr<TOpenLevels> FOpen;
};
