#pragma once

#include <QFile>

// Reading the archive file, the system's own way (archive_reads_*.cpp).

// Reads up to Count bytes at Position without moving the handle's position and returns how
// many it got: fewer only at the end of the file or on an error.
qint64 ReadAt(int Handle, char *Data, qint64 Count, qint64 Position);

// A path that opens the very file Archive has open, whatever its name points at by now, for
// the workers that each read it with a handle of their own.
QString ReopenPath(const QFile &Archive);
