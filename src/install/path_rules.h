#pragma once

#include <QString>

// Where a downloaded archive and its unpacked folder go, derived from the download address.

// The last segment of an address: segments end at "/" or at a character U+0001..U+0020, a
// segment may be quoted with double quotes ("" inside stands for one quote), and a final "/"
// gives an empty last segment. Only the text before the first U+0000 counts.
QString LastPathSegment(const QString &address);

// The text after the last "\" or ":" (and, on this platform, "/"); the whole path without one.
QString FileNameOf(const QString &path);

// The file name without its extension: the text before its last "." when that comes after
// every separator; the whole name otherwise. ".zip" gives "".
QString BaseNameOf(const QString &fileName);

// Where the setup program lies in the unpacked folder. A name with "\" lies in a folder of the
// archive, as the archive's own names do.
QString SetupProgramPath(const QString &unpackFolder, const QString &launcherName);
