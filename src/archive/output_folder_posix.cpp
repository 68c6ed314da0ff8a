#include "output_folder.h"

#include "failure.h"

#include <QDir>
#include <QFile>
#include <QSet>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

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

void TOutputFile::SetDosAttributes(uint Attributes)
{
    // Read-only is the one attribute with a meaning here: no write permission for anyone.
    struct stat Status;
    if ((Attributes & 0x01) && fstat(FHandle, &Status) == 0)
        fchmod(FHandle, Status.st_mode & 0555);
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

// Every level is opened relative to the one above it without following symbolic links; the
// last folder opened stays open for the next entry.
class TOutputFolder::TOpenLevels {
public:
    TOpenLevels(TOutputFolder &Owner, const QString &Path) : FOwner(Owner), FPath(Path) {}
    ~TOpenLevels()
    {
        if (FCachedHandle >= 0 && FCachedHandle != FRootHandle)
            close(FCachedHandle);
        if (FRootHandle >= 0)
            close(FRootHandle);
    }

    // The opened innermost level (owned by this object), or -1 with errno set. Folder is
    // Levels joined with '/'.
    int Open(const QStringList &Levels, const QString &Folder);
    bool Known(const QString &Folder) const { return FMade.contains(Folder); }

private:
    int OpenRoot();
    int WalkLevels(const QStringList &Levels);
    void RememberMade(const QString &Folder);

    TOutputFolder &FOwner;
    QString FPath;
    int FRootHandle = -1;
    QString FCachedFolder;
    int FCachedHandle = -1;
    // Folders below the destination already made or opened in this extraction. Opening one
    // again takes a single call instead of one per level, so an archive of many entries in
    // deep folders costs time linear in its names. Dropped when it outgrows its budget.
    QSet<QString> FMade;
    qsizetype FMadeChars = 0;
    static constexpr qsizetype MadeBudgetChars = 1 << 20;
};

int TOutputFolder::TOpenLevels::OpenRoot()
{
    if (FRootHandle < 0) {
        QDir().mkpath(FPath);
        FRootHandle = open(QFile::encodeName(FPath).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    return FRootHandle;
}

void TOutputFolder::TOpenLevels::RememberMade(const QString &Folder)
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

int TOutputFolder::TOpenLevels::Open(const QStringList &Levels, const QString &Folder)
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

int TOutputFolder::TOpenLevels::WalkLevels(const QStringList &Levels)
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
            FOwner.NoteMade(Levels, FirstMade, Made, QString());
            FirstMade = -1;
        }
        if (Handle != FRootHandle)
            close(Handle);
        errno = Error;
        Handle = Next;
    }
    return Handle;
}

TOutputFolder::TOutputFolder(const QString &FullPath)
    : FPath(FullPath), FOpen(std::make_unique<TOpenLevels>(*this, FullPath))
{
}

TOutputFolder::~TOutputFolder() = default;

void TOutputFolder::MakeFolders(const TEntryTarget &Target)
{
    if (!Target.Levels.isEmpty() && FOpen->Known(Target.Folder))
        return;
    const QString Path = FullPath(Target);
    if (QFile::encodeName(Path).size() >= PATH_MAX)
        throw Failure("EFCreateError",
                      QString("Cannot create folder \"%1\". %2").arg(Path, qt_error_string(ENAMETOOLONG)));
    FOpen->Open(Target.Levels, Target.Folder);
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
    const int Folder = FOpen->Open(Target.Levels, Target.Folder);
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

std::unique_ptr<TOutputFile> TOutputFolder::CreateUnnamedFile()
{
    const int Root = FOpen->Open({}, QString());
    const int Handle = Root < 0 ? -1 : openat(Root, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    return Handle < 0 ? nullptr : std::make_unique<TOutputFile>(Handle);
}

bool TOutputFolder::NameFile(const TEntryTarget &Target, const TOutputFile &File)
{
    if (Target.FileName.isEmpty())
        return false;
    const int Folder = FOpen->Open(Target.Levels, Target.Folder);
    // Through the handle's entry in /proc: linking the handle itself takes a privilege. The
    // link fails where anything stands at the name, a link or a pipe as much as a file.
    const QByteArray Self = "/proc/self/fd/" + QByteArray::number(File.FHandle);
    if (Folder < 0 || linkat(AT_FDCWD, Self.constData(), Folder,
                             QFile::encodeName(Target.FileName).constData(), AT_SYMLINK_FOLLOW) != 0)
        return false;
    NoteMade(Target.Levels, 0, 0, Target.FileName);
    return true;
}

void TOutputFolder::RemoveMadeFile(const QStringList &Levels, const QString &FileName)
{
    const int Folder = FOpen->Open(Levels, Levels.join(u'/'));
    if (Folder >= 0)
        unlinkat(Folder, QFile::encodeName(FileName).constData(), 0);
}

void TOutputFolder::RemoveMadeFolder(const QStringList &Parent, const QString &Name)
{
    const int Folder = FOpen->Open(Parent, Parent.join(u'/'));
    if (Folder >= 0)
        unlinkat(Folder, QFile::encodeName(Name).constData(), AT_REMOVEDIR);
}
