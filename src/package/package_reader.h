#pragma once

#include "package_settings.h"

#include <QString>

// Reading pack.db. The reader knows no widgets: it gives an outcome, and the window turns the
// outcomes other than Loaded into notices that end the program.

enum class PackageOutcome {
    Loaded,
    Missing,         // no file at the path (a folder of that name does not count)
    Damaged,         // the decoded text does not hold exactly 32 fields
    VersionMismatch, // AddressTriple does not hold exactly three addresses
};

struct PackageLoad {
    PackageOutcome Outcome = PackageOutcome::Missing;
    // Missing: all empty. Damaged: all empty. VersionMismatch: everything but the three
    // addresses. Loaded: everything.
    PackageSettings Settings;
    // Set once the file is known to exist.
    QString ServiceNumber;
};

// programFolder ends with its separator.
QString PackagePath(const QString &programFolder);

// Reads the package at packagePath. A file that cannot be opened, read or decoded fails with
// EFOpenError, EReadError, EOutOfMemory or EConvertError.
PackageLoad LoadPackage(const QString &packagePath);

// The notice that ends the program for an outcome other than Loaded; empty for Loaded.
QString PackageNotice(PackageOutcome outcome, const QString &packagePath);
