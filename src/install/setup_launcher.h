#pragma once

#include <QString>

// Starts the setup program the way the desktop's shell opens a file: an executable file is
// started on its own (in this program's working directory, without arguments), any other file
// is handed to the desktop's default handler for it. The outcome is not reported.
void OpenSetupProgram(const QString &path);
// Whether that file is started on its own: one marked executable here, an .exe on Windows.
bool StartsDirectly(const QString &path);
