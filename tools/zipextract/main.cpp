// zipextract ARCHIVE FOLDER: unpacks ARCHIVE into FOLDER with GBK names, as the installer
// does. Silent on success; on failure prints the message and exits with status 1.
#include "failure.h"
#include "zip_extract.h"

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: zipextract ARCHIVE FOLDER\n");
        return 2;
    }
    try {
        ExtractZipFile(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]), 936);
    } catch (const Failure &Error) {
        std::fprintf(stderr, "%s\n", Error.Message().toLocal8Bit().constData());
        return 1;
    }
    return 0;
}
