#include "archive_reads.h"

#include <windows.h>
#include <io.h>

qint64 ReadAt(int Handle, char *Data, qint64 Count, qint64 Position)
{
    const HANDLE File = reinterpret_cast<HANDLE>(_get_osfhandle(Handle));
    // A read at an offset moves a synchronous handle's position; it is put back afterwards.
    LARGE_INTEGER Zero{}, Before{};
    if (!SetFilePointerEx(File, Zero, &Before, FILE_CURRENT))
        return 0;
    qint64 Done = 0;
    while (Done < Count) {
        OVERLAPPED At{};
        const quint64 Offset = quint64(Position + Done);
        At.Offset = DWORD(Offset);
        At.OffsetHigh = DWORD(Offset >> 32);
        DWORD Got = 0;
        const DWORD Want = DWORD(qMin<qint64>(Count - Done, 1 << 30));
        if (!ReadFile(File, Data + Done, Want, &Got, &At) || Got == 0)
            break;
        Done += Got;
    }
    SetFilePointerEx(File, Before, nullptr, FILE_BEGIN);
    return Done;
}

QString ReopenPath(const QFile &Archive)
{
    // An open file cannot be renamed or replaced here unless its opener shares deletion,
    // which Qt does not; so its name still names it.
    return Archive.fileName();
}
