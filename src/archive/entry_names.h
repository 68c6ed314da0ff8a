#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Decodes an entry's name bytes: strict UTF-8 when the entry says so (malformed bytes fail),
// else the caller's code page, where bytes that do not decode are replaced.
QString DecodeEntryName(const QByteArray &Bytes, bool Utf8, int CodePage);

// Strict UTF-8; malformed input fails with the encoding failure of the name rules.
QString DecodeUtf8Name(QByteArrayView Bytes);

// Throws unless the code page is one names can be decoded with.
void CheckCodePage(int CodePage);

// Where an entry lands below the destination folder.
struct TEntryTarget {
    QStringList Levels; // folder levels below the destination, outermost first
    QString FileName;   // the file in the innermost level; empty for a folder entry and
                        // for a file whose name ends at a folder (empty, "." or "..")
    bool IsFolder = false;
    QString Folder; // the levels joined with "/", kept so a folder is named once
};

// Checks the characters of the destination and the name, refuses names that are rooted or
// climb out of the destination, and splits the name at "/" and "\" into its levels.
// CreateSubdirs false keeps only the name's last level.
TEntryTarget ResolveEntryTarget(const QString &Destination, const QString &Name, bool CreateSubdirs);
