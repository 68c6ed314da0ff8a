#pragma once

#include <QtGlobal>

// Reads up to Count bytes at Position without moving the handle's position and returns how
// many it got: fewer only at the end of the file or on an error.
qint64 ReadAt(int Handle, char *Data, qint64 Count, qint64 Position);
