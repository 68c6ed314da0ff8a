#include "small_file_system.h"

// Windows mounts no file system of a chosen size on a folder without a disk image driver.
bool MountSmallFileSystem(const QString &, int)
{
    return false;
}

void UnmountSmallFileSystem(const QString &) {}
