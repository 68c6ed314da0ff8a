#include "output_folder.h"

#include "failure.h"
#include "windows_names.h"

#include <QDir>

#include <windows.h>
#include <fcntl.h>
#include <io.h>
// windows.h maps the name to CreateFileW, which would rename this class's method.
#undef CreateFile

#include <string>
#include <vector>

namespace {

// Checked here because the system would accept longer paths on some machines and not on others.
constexpr qsizetype FolderPathLimit = 248;
constexpr qsizetype FilePathLimit = 260;

HANDLE HandleOf(int Descriptor)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(Descriptor));
}

std::wstring Wide(const QString &Path)
{
    return QDir::toNativeSeparators(Path).toStdWString();
}

Failure TooLong()
{
    return Failure("EPathTooLongException", "The specified path is too long");
}

Failure NotSupported()
{
    return Failure("ENotSupportedException", "The path format is not supported");
}

bool IsPlainDirectory(HANDLE Handle)
{
    BY_HANDLE_FILE_INFORMATION Info;
    return GetFileInformationByHandle(Handle, &Info) &&
           (Info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(Info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

} // namespace

void TOutputFile::SetModifiedTime(const QDateTime &Time)
{
    // 100-nanosecond steps since 1601-01-01 UTC; the creation time takes the same value.
    constexpr qint64 MsFrom1601To1970 = 11644473600000;
    const quint64 Ticks = quint64(Time.toMSecsSinceEpoch() + MsFrom1601To1970) * 10000;
    FILETIME Stamp{DWORD(Ticks), DWORD(Ticks >> 32)};
    SetFileTime(HandleOf(FHandle), &Stamp, nullptr, &Stamp);
}

void TOutputFile::SetUnixMode(uint)
{
    // Windows has no permission bits to take them; the file keeps what creating it gave.
}

void TOutputFile::SetDosAttributes(uint Attributes)
{
    FILE_BASIC_INFO Info{};
    // Zero would leave the attributes unchanged rather than clear them.
    Info.FileAttributes = Attributes != 0 ? Attributes : FILE_ATTRIBUTE_NORMAL;
    SetFileInformationByHandle(HandleOf(FHandle), FileBasicInfo, &Info, sizeof Info);
}

// The levels of the last path opened, each held open without delete sharing, so that none of
// them can be renamed, removed or replaced by a link while a file below them is created.
class TOutputFolder::TOpenLevels {
public:
    TOpenLevels(TOutputFolder &Owner, const QString &Path) : FOwner(Owner), FPath(QDir::toNativeSeparators(Path))
    {
        // A drive's root ends with its separator already.
        FBase = FPath.endsWith(u'\\') ? FPath.chopped(1) : FPath;
    }
    ~TOpenLevels() { CloseFrom(0); }

    // Opens the destination and the levels below it, making the missing ones. False with the
    // system's error set when a level cannot be made, is no plain folder, or is a name Windows
    // would take for something else.
    bool Open(const QStringList &Levels);

private:
    void CloseFrom(size_t Count);

    TOutputFolder &FOwner;
    QString FPath;
    QString FBase;                // the destination without a trailing separator
    QStringList FLevels;          // the levels held, below the destination
    std::vector<HANDLE> FHandles; // the destination, then one per level
};

void TOutputFolder::TOpenLevels::CloseFrom(size_t Count)
{
    while (FHandles.size() > Count) {
        CloseHandle(FHandles.back());
        FHandles.pop_back();
    }
    while (FLevels.size() > qsizetype(Count > 0 ? Count - 1 : 0))
        FLevels.removeLast();
}

bool TOutputFolder::TOpenLevels::Open(const QStringList &Levels)
{
    // Keep the destination and the levels the last path shares with this one.
    size_t Kept = FHandles.empty() ? 0 : 1;
    while (Kept > 0 && qsizetype(Kept) <= FLevels.size() && qsizetype(Kept) <= Levels.size() &&
           FLevels[Kept - 1] == Levels[Kept - 1])
        ++Kept;
    CloseFrom(Kept);

    QString Path = FBase;
    for (qsizetype At = 0; At < qsizetype(Kept) - 1; ++At)
        Path += u'\\' + Levels[At];
    constexpr DWORD Share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    constexpr DWORD Flags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
    if (FHandles.empty()) {
        // The destination itself is trusted, links and all.
        QDir().mkpath(FPath);
        const HANDLE Root = CreateFileW(Wide(FPath).c_str(), FILE_READ_ATTRIBUTES, Share, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (Root == INVALID_HANDLE_VALUE)
            return false;
        FHandles.push_back(Root);
    }
    // The levels made here, from FirstMade on, are noted once the walk ends.
    qsizetype FirstMade = -1;
    qsizetype At = qsizetype(FHandles.size()) - 1;
    const auto Ended = [&](bool Opened) {
        if (FirstMade >= 0)
            FOwner.NoteMade(Levels, FirstMade, Opened ? At : At + 1, QString());
        return Opened;
    };
    for (; At < Levels.size(); ++At) {
        const QString &Level = Levels[At];
        if (ClassifyWindowsName(Level) != TWindowsName::Usable) {
            SetLastError(ERROR_INVALID_NAME);
            return Ended(false);
        }
        Path += u'\\' + Level;
        if (CreateDirectoryW(Wide(Path).c_str(), nullptr) && FirstMade < 0)
            FirstMade = At;
        const HANDLE Handle = CreateFileW(Wide(Path).c_str(), FILE_READ_ATTRIBUTES, Share, nullptr,
                                          OPEN_EXISTING, Flags, nullptr);
        if (Handle == INVALID_HANDLE_VALUE)
            return Ended(false);
        if (!IsPlainDirectory(Handle)) {
            CloseHandle(Handle);
            SetLastError(ERROR_DIRECTORY);
            return Ended(false);
        }
        FHandles.push_back(Handle);
        FLevels.append(Level);
    }
    return Ended(true);
}

TOutputFolder::TOutputFolder(const QString &FullPath)
    : FPath(FullPath), FOpen(std::make_unique<TOpenLevels>(*this, FullPath))
{
}

TOutputFolder::~TOutputFolder() = default;

namespace {

// The checks every path of a folder part passes before anything is made for it.
void CheckFolderPath(const QString &Path, const QStringList &Levels)
{
    if (Path.size() >= FolderPathLimit)
        throw TooLong();
    for (const QString &Level : Levels) {
        if (ClassifyWindowsName(Level) == TWindowsName::HoldsColon)
            throw NotSupported();
    }
}

} // namespace

void TOutputFolder::MakeFolders(const TEntryTarget &Target)
{
    CheckFolderPath(FullPath(Target), Target.Levels);
    FOpen->Open(Target.Levels);
}

std::unique_ptr<TOutputFile> TOutputFolder::CreateFile(const TEntryTarget &Target)
{
    const QString Path = FullPath(Target);
    const auto Refused = [&Path](DWORD Error) {
        return Failure("EFCreateError",
                       QString("Cannot create file \"%1\". %2").arg(Path, qt_error_string(int(Error))));
    };
    CheckFolderPath(FullPath({Target.Levels, {}, true, Target.Folder}), Target.Levels);
    const TWindowsName Name = ClassifyWindowsName(Target.FileName);
    if (Name == TWindowsName::HoldsColon)
        throw NotSupported();
    if (Path.size() >= FilePathLimit)
        throw TooLong();
    if (!FOpen->Open(Target.Levels))
        throw Refused(GetLastError());
    // Without a file name the path is the innermost folder itself, which no file replaces.
    if (Target.FileName.isEmpty())
        throw Refused(ERROR_ACCESS_DENIED);
    if (Name != TWindowsName::Usable)
        throw Refused(ERROR_INVALID_NAME);

    // Opened, not created, so that a link standing at the path is found rather than followed;
    // a read-only file refuses the write access and so fails here.
    const HANDLE Handle = CreateFileW(Wide(Path).c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (Handle == INVALID_HANDLE_VALUE)
        throw Refused(GetLastError());
    if (GetLastError() != ERROR_ALREADY_EXISTS)
        NoteMade(Target.Levels, 0, 0, Target.FileName);
    // Checked as well, not only left to the open, because an administrator's open may pass.
    BY_HANDLE_FILE_INFORMATION Info;
    if (!GetFileInformationByHandle(Handle, &Info) ||
        (Info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY))) {
        CloseHandle(Handle);
        throw Refused(ERROR_ACCESS_DENIED);
    }
    if (!SetEndOfFile(Handle)) {
        const DWORD Error = GetLastError();
        CloseHandle(Handle);
        throw Refused(Error);
    }
    const int Descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(Handle), 0);
    if (Descriptor < 0) {
        CloseHandle(Handle);
        throw Refused(ERROR_TOO_MANY_OPEN_FILES);
    }
    _setmode(Descriptor, _O_BINARY);
    return std::make_unique<TOutputFile>(Descriptor);
}

// A file created without a name cannot be given one later here, so every entry waits for
// its turn.
std::unique_ptr<TOutputFile> TOutputFolder::CreateUnnamedFile()
{
    return nullptr;
}

bool TOutputFolder::NameFile(const TEntryTarget &, const TOutputFile &)
{
    return false;
}

void TOutputFolder::RemoveMadeFile(const QStringList &Levels, const QString &FileName)
{
    // The levels held open cannot be replaced by a link while the name below them goes.
    if (FOpen->Open(Levels))
        DeleteFileW(Wide(FullPath({Levels, FileName, false, Levels.join(u'/')})).c_str());
}

void TOutputFolder::RemoveMadeFolder(const QStringList &Parent, const QString &Name)
{
    if (FOpen->Open(Parent))
        RemoveDirectoryW(Wide(FullPath({Parent + QStringList{Name}, {}, true, {}})).c_str());
}
