#include "reopen_path.h"

QString ReopenPath(const QFile &Archive)
{
    // An open file cannot be renamed or replaced here unless its opener shares deletion,
    // which Qt does not; so its name still names it.
    return Archive.fileName();
}
