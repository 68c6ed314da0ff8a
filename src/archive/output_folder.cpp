#include "output_folder.h"

#include <QDir>

TOutputFile::TOutputFile(int Handle)
{
    FFile.open(Handle, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle);
}

bool TOutputFile::Write(const char *Data, qint64 Count)
{
    return FFile.write(Data, Count) == Count;
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
