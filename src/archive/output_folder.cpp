#include "output_folder.h"

#include <QDir>

#include <cerrno>
#include <unistd.h>

TOutputFile::~TOutputFile()
{
    close(FHandle);
}

namespace {

// Output goes to the kernel in pieces under 64 KiB. A larger write makes the page cache take
// large folios from the buddy lists, whose pages are often cold (on a virtual machine, handed
// back to the host): filling them cost 5 to 8 times the system time of these pieces, which come
// from the per-CPU lists of recently freed pages.
constexpr qint64 WritePieceSize = 32 << 10;

} // namespace

bool TOutputFile::Write(const char *Data, qint64 Count)
{
    while (Count > 0) {
        const auto Done = write(FHandle, Data, unsigned(qMin(Count, WritePieceSize)));
        if (Done < 0 && errno == EINTR)
            continue;
        if (Done <= 0)
            return false;
        Data += Done;
        Count -= Done;
    }
    return true;
}

QString TOutputFolder::FullPath(const TEntryTarget &Target) const
{
    QStringList Parts = Target.Levels;
    if (!Target.FileName.isEmpty())
        Parts.append(Target.FileName);
    if (Parts.isEmpty())
        return QDir::toNativeSeparators(FPath);
    const QString Path = FPath.endsWith(u'/') ? FPath + Parts.join(u'/') : FPath + u'/' + Parts.join(u'/');
    return QDir::toNativeSeparators(Path);
}

void TOutputFolder::NoteMade(const QStringList &Levels, qsizetype First, qsizetype End,
                             const QString &FileName)
{
    if (FEntry >= 0)
        FNewlyMade.push_back({FEntry, Levels, First, End, FileName});
}

void TOutputFolder::ForgetBefore(int Index)
{
    while (!FNewlyMade.empty() && FNewlyMade.front().Index < Index)
        FNewlyMade.pop_front();
}

void TOutputFolder::Undo(int AfterIndex)
{
    FEntry = -1;
    // Latest first, so a folder is empty of what was made in it when its turn comes; a folder
    // that holds anything else stays.
    for (auto Made = FNewlyMade.rbegin(); Made != FNewlyMade.rend(); ++Made) {
        if (Made->Index <= AfterIndex)
            continue;
        if (!Made->FileName.isEmpty())
            RemoveMadeFile(Made->Levels, Made->FileName);
        for (qsizetype Level = Made->End - 1; Level >= Made->First; --Level)
            RemoveMadeFolder(Made->Levels.mid(0, Level), Made->Levels[Level]);
    }
    FNewlyMade.clear();
}
