#include "output_folder.h"

#include "failure.h"

#include <QDir>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

void TOutputFile::SetModifiedTime(const QDateTime &Time)
{
    FFile.setFileTime(Time, QFileDevice::FileModificationTime);
}

void TOutputFile::SetUnixMode(uint Mode)
{
    // The owner keeps the right to write, so that the same archive can be unpacked again over
    // a leftover folder, as an install run a second time does; only the DOS read-only
    // attribute makes a file that refuses to be replaced.
    fchmod(FFile.handle(), (Mode & 0777) | S_IWUSR);
}

void TOutputFile::SetDosAttributes(uint Attributes)
{
    // Read-only is the one attribute with a meaning here: no write permission for anyone.
    struct stat Status;
    if ((Attributes & 0x01) && fstat(FFile.handle(), &Status) == 0)
        fchmod(FFile.handle(), Status.st_mode & 0555);
}

// Every level is opened relative to the one above it without following symbolic links.
class TOutputFolder::TOpenLevels {
public:
    explicit TOpenLevels(const QString &Path) : FPath(Path) {}
    ~TOpenLevels()
    {
        if (FCachedHandle >= 0 && FCachedHandle != FRootHandle)
            close(FCachedHandle);
        if (FRootHandle >= 0)
            close(FRootHandle);
    }

    // The opened innermost level (owned by this object), or -1 with errno set.
    int Open(const QStringList &Levels);

private:
    int OpenRoot();

    QString FPath;
    int FRootHandle = -1;
    QStringList FCachedLevels;
    int FCachedHandle = -1;
};

int TOutputFolder::TOpenLevels::OpenRoot()
{
    if (FRootHandle < 0) {
        QDir().mkpath(FPath);
        FRootHandle = open(QFile::encodeName(FPath).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    return FRootHandle;
}

int TOutputFolder::TOpenLevels::Open(const QStringList &Levels)
{
    if (FCachedHandle >= 0 && Levels == FCachedLevels)
        return FCachedHandle;
    if (FCachedHandle >= 0 && FCachedHandle != FRootHandle)
        close(FCachedHandle);
    FCachedHandle = -1;

    int Handle = OpenRoot();
    for (const QString &Level : Levels) {
        if (Handle < 0)
            return -1;
        const QByteArray Name = QFile::encodeName(Level);
        constexpr int Flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        int Next = openat(Handle, Name.constData(), Flags);
        if (Next < 0 && errno == ENOENT && (mkdirat(Handle, Name.constData(), 0777) == 0 || errno == EEXIST))
            Next = openat(Handle, Name.constData(), Flags);
        const int Error = errno;
        if (Handle != FRootHandle)
            close(Handle);
        errno = Error;
        Handle = Next;
    }
    if (Handle >= 0) {
        FCachedHandle = Handle;
        FCachedLevels = Levels;
    }
    return Handle;
}

TOutputFolder::TOutputFolder(const QString &FullPath) : FPath(FullPath), FOpen(new TOpenLevels(FullPath)) {}

TOutputFolder::~TOutputFolder() = default;

void TOutputFolder::MakeFolders(const QStringList &Levels)
{
    FOpen->Open(Levels);
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
    const int Folder = FOpen->Open(Target.Levels);
    // A file without write permission is read-only for every user, the superuser included.
    struct stat Status;
    if (Folder >= 0 && fstatat(Folder, Name.constData(), &Status, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(Status.st_mode) && (Status.st_mode & 0222) == 0)
        throw Refused(EACCES);
    const int Handle = Folder < 0 ? -1 : openat(Folder, Name.constData(), Flags, 0666);
    if (Handle < 0)
        throw Refused(errno);
    return std::make_unique<TOutputFile>(Handle);
}
