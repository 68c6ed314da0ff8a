// ZIP reading and extraction on anyone's archive. The destination lies eight levels down a
// private scratch folder, so a name that climbs out lands in the scratch folder, where the
// check after every run finds it: anything there but the archive and the levels down to the
// destination is an escape.
#include "failure.h"
#include "fuzz_support.h"
#include "zip_extract.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

namespace {

constexpr int Depth = 8;

struct Scratch {
    QTemporaryDir root;
    QString archive = root.filePath("archive.zip");
    QStringList levels; // relative paths from the root down to the destination
    QString destination;

    Scratch()
    {
        QString level;
        for (int i = 0; i < Depth; ++i) {
            level += (i ? "/" : "") + QString("l%1").arg(i);
            levels << level;
        }
        destination = root.filePath(levels.last() + "/out");
        QDir().mkpath(root.filePath(levels.last()));
    }

    bool Expected(const QString &relative) const
    {
        return relative == "archive.zip" || levels.contains(relative) || relative == levels.last() + "/out" ||
               relative.startsWith(levels.last() + "/out/");
    }

    void CheckNothingEscaped() const
    {
        const QDir top(root.path());
        QDirIterator it(root.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString relative = top.relativeFilePath(it.next());
            if (!Expected(relative)) {
                std::fprintf(stderr, "escaped the destination: %s\n", qPrintable(relative));
                std::abort();
            }
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Scratch scratch;
    QFile file(scratch.archive);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
        std::abort();
    file.close();
    try {
        ExtractZipFile(scratch.archive, scratch.destination, 936);
    } catch (const Failure &) {
        // a damaged or refused archive: the installer reports it
    }
    scratch.CheckNothingEscaped();
    // Entries may have taken their write permission; the folders they are in are ours.
    QDir(scratch.destination).removeRecursively();
    return 0;
}
