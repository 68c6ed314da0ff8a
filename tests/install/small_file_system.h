#pragma once

#include <QString>

// A file system of its own, of the given size, mounted on a folder (root only, in a mount
// namespace of the test process's own), so that a full disk can be met for real. False where
// the system cannot (small_file_system_*.cpp); the test then skips.
bool MountSmallFileSystem(const QString &folder, int mebibytes);
void UnmountSmallFileSystem(const QString &folder);
