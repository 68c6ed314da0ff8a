// zipextract [--threads N] ARCHIVE FOLDER: unpacks ARCHIVE into FOLDER with GBK names, as the
// installer does, writing entries on N threads (default as the installer: one per core, at most
// 8). Silent on success; on failure prints the message and exits with status 1.
#include "failure.h"
#include "zip_extract.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int Usage()
{
    std::fprintf(stderr, "usage: zipextract [--threads N] ARCHIVE FOLDER\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    TExtractOptions Options;
    int First = 1;
    if (argc > 1 && std::strcmp(argv[1], "--threads") == 0) {
        char *End = nullptr;
        const long Threads = argc > 2 ? std::strtol(argv[2], &End, 10) : 0;
        if (argc <= 2 || *End != '\0' || Threads < 1 || Threads > 1024)
            return Usage();
        Options.Threads = int(Threads);
        First = 3;
    }
    if (argc - First != 2)
        return Usage();
    try {
        ExtractZipFile(QString::fromLocal8Bit(argv[First]), QString::fromLocal8Bit(argv[First + 1]), 936,
                       Options);
    } catch (const Failure &Error) {
        std::fprintf(stderr, "%s\n", Error.Message().toLocal8Bit().constData());
        return 1;
    }
    return 0;
}
