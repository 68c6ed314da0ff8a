#pragma once

#include <QString>

// What Windows makes of one file or folder name, checked before the name reaches the system:
// it would take a device name such as NUL for the device and quietly drop trailing dots and
// blanks, so such a name would write somewhere else than it says.
enum class TWindowsName {
    Usable,
    HoldsColon, // would name a stream of another file
    Refused,    // a device name, a trailing dot or blank, "*" or "?"
};

TWindowsName ClassifyWindowsName(const QString &Name);
