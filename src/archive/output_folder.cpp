#include "output_folder.h"

#include "failure.h"

#include <QDir>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
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
        const ssize_t Done = write(FHandle, Data, size_t(qMin(Count, WritePieceSize)));
        if (Done < 0 && errno == EINTR)
            continue;
        if (Done <= 0)
            return false;
        Data += Done;
        Count -= Done;
    }
    return true;
}

void TOutputFile::SetModifiedTime(const QDateTime &Time)
{
    const qint64 Milliseconds = Time.toMSecsSinceEpoch();
    timespec Times[2];
    Times[0].tv_sec = 0;
    Times[0].tv_nsec = UTIME_OMIT; // the access time stays as the write left it
    Times[1].tv_sec = time_t(Milliseconds / 1000);
    Times[1].tv_nsec = long(Milliseconds % 1000) * 1000000;
    if (Times[1].tv_nsec < 0) {
        Times[1].tv_sec -= 1;
        Times[1].tv_nsec += 1000000000;
    }
    futimens(FHandle, Times);
}

void TOutputFile::SetUnixMode(uint Mode)
{
    // The owner keeps the right to write, so that the same archive can be unpacked again over
    // a leftover folder, as an install run a second time does; only the DOS read-only
    // attribute makes a file that refuses to be replaced.
    fchmod(FHandle, (Mode & 0777) | S_IWUSR);
}

void TOutputFile::ClearWriteBits()
{
    struct stat Status;
    if (fstat(FHandle, &Status) == 0)
        fchmod(FHandle, Status.st_mode & 0555);
}

TOutputFolder::TOutputFolder(const QString &FullPath) : FPath(FullPath) {}

TOutputFolder::~TOutputFolder()
{
    if (FCachedHandle >= 0 && FCachedHandle != FRootHandle)
        close(FCachedHandle);
    if (FRootHandle >= 0)
        close(FRootHandle);
}

QString TOutputFolder::FullPath(const TEntryTarget &Target) const
{
    QStringList Parts = Target.Levels;
    if (!Target.FileName.isEmpty())
        Parts.append(Target.FileName);
    if (Parts.isEmpty())
        return FPath;
    return FPath.endsWith(u'/') ? FPath + Parts.join(u'/') : FPath + u'/' + Parts.join(u'/');
}

int TOutputFolder::OpenRoot()
{
    if (FRootHandle < 0) {
        QDir().mkpath(FPath);
        FRootHandle = open(QFile::encodeName(FPath).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    return FRootHandle;
}

namespace {

constexpr int FolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Opens a folder below Root in one call, refusing any link or climb on the way; -1 where the
// kernel cannot (the caller then walks level by level).
int OpenBeneath(int Root, const QByteArray &Relative)
{
#ifdef SYS_openat2
    open_how How{};
    How.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    How.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    return int(syscall(SYS_openat2, Root, Relative.constData(), &How, sizeof How));
#else
    Q_UNUSED(Root);
    Q_UNUSED(Relative);
    return -1;
#endif
}

} // namespace

void TOutputFolder::RememberMade(const QString &Folder)
{
    if (FMadeChars + Folder.size() > MadeBudgetChars) {
        FMade.clear();
        FMadeChars = 0;
    }
    if (!FMade.contains(Folder)) {
        FMade.insert(Folder);
        FMadeChars += Folder.size();
    }
}

int TOutputFolder::OpenLevels(const QStringList &Levels, const QString &Folder)
{
    if (FCachedHandle >= 0 && Folder == FCachedFolder)
        return FCachedHandle;
    if (FCachedHandle >= 0 && FCachedHandle != FRootHandle)
        close(FCachedHandle);
    FCachedHandle = -1;

    int Handle = -1;
    if (!Levels.isEmpty() && FMade.contains(Folder) && OpenRoot() >= 0)
        Handle = OpenBeneath(FRootHandle, QFile::encodeName(Folder));
    if (Handle < 0)
        Handle = WalkLevels(Levels);
    if (Handle >= 0) {
        FCachedHandle = Handle;
        FCachedFolder = Folder;
        if (!Levels.isEmpty())
            RememberMade(Folder);
    }
    return Handle;
}

int TOutputFolder::WalkLevels(const QStringList &Levels)
{
    int Handle = OpenRoot();
    qsizetype Made = 0;
    qsizetype FirstMade = -1;
    for (const QString &Level : Levels) {
        if (Handle < 0)
            return -1;
        const QByteArray Name = QFile::encodeName(Level);
        int Next = openat(Handle, Name.constData(), FolderFlags);
        if (Next < 0 && errno == ENOENT) {
            const bool MadeNow = mkdirat(Handle, Name.constData(), 0777) == 0;
            if (MadeNow && FirstMade < 0)
                FirstMade = Made;
            if (MadeNow || errno == EEXIST)
                Next = openat(Handle, Name.constData(), FolderFlags);
        }
        const int Error = errno;
        ++Made;
        if (FirstMade >= 0 && (Next < 0 || Made == Levels.size())) {
            NoteMade(Levels, FirstMade, Made, QString());
            FirstMade = -1;
        }
        if (Handle != FRootHandle)
            close(Handle);
        errno = Error;
        Handle = Next;
    }
    return Handle;
}

void TOutputFolder::MakeFolders(const TEntryTarget &Target)
{
    if (!Target.Levels.isEmpty() && FMade.contains(Target.Folder))
        return;
    const QString Path = FullPath(Target);
    if (QFile::encodeName(Path).size() >= PATH_MAX)
        throw Failure("EFCreateError",
                      QString("Cannot create folder \"%1\". %2").arg(Path, qt_error_string(ENAMETOOLONG)));
    OpenLevels(Target.Levels, Target.Folder);
}

std::unique_ptr<TOutputFile> TOutputFolder::CreateFile(const TEntryTarget &Target)
{
    const QString Path = FullPath(Target);
    const auto Refused = [&Path](int Error) {
        return Failure("EFCreateError",
                       QString("Cannot create file \"%1\". %2").arg(Path, qt_error_string(Error)));
    };
    if (QFile::encodeName(Path).size() >= PATH_MAX)
        throw Refused(ENAMETOOLONG);
    // Non-blocking so that a pipe already standing at the path fails instead of hanging.
    constexpr int Flags = O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    // Without a file name the path is the innermost folder itself, so creating fails.
    const QByteArray Name = Target.FileName.isEmpty() ? QByteArray(".") : QFile::encodeName(Target.FileName);
    const int Folder = OpenLevels(Target.Levels, Target.Folder);
    // A file without write permission is read-only for every user, the superuser included.
    struct stat Status;
    const bool Existed = Folder >= 0 && fstatat(Folder, Name.constData(), &Status, AT_SYMLINK_NOFOLLOW) == 0;
    if (Existed && S_ISREG(Status.st_mode) && (Status.st_mode & 0222) == 0)
        throw Refused(EACCES);
    const int Handle = Folder < 0 ? -1 : openat(Folder, Name.constData(), Flags, 0666);
    if (Handle < 0)
        throw Refused(errno);
    if (!Existed)
        NoteMade(Target.Levels, 0, 0, Target.FileName);
    return std::make_unique<TOutputFile>(Handle);
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
        if (!Made->FileName.isEmpty()) {
            const int Folder = OpenLevels(Made->Levels, Made->Levels.join(u'/'));
            if (Folder >= 0)
                unlinkat(Folder, QFile::encodeName(Made->FileName).constData(), 0);
        }
        for (qsizetype Level = Made->End - 1; Level >= Made->First; --Level) {
            const QStringList Parent = Made->Levels.mid(0, Level);
            const int Folder = OpenLevels(Parent, Parent.join(u'/'));
            if (Folder >= 0)
                unlinkat(Folder, QFile::encodeName(Made->Levels[Level]).constData(), AT_REMOVEDIR);
        }
    }
    FNewlyMade.clear();
}
