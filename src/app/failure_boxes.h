#pragma once

#include <QString>
#include <exception>

// How failures that escape handlers reach the user. ErrorBoxText is declared in shell.h.

// The body of the top-level "Application Error" box.
QString ApplicationErrorText(const QString &kind, const QString &module, quint32 place,
                             const QString &message);

// A failure that escaped a handler dispatched by the event loop: the "Error" box.
void ShowErrorBox(std::exception_ptr failure);
// A failure that escaped the creation or show handler: the "Application Error" box.
void ShowApplicationError(std::exception_ptr failure);
