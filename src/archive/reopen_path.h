#pragma once

#include <QFile>

// A path that opens the very file Archive has open, whatever its name points at by now, for
// the workers that each read it with a handle of their own (reopen_path_*.cpp).
QString ReopenPath(const QFile &Archive);
