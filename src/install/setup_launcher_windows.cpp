#include "setup_launcher.h"

#include <QFileInfo>

#include <windows.h>
#include <shellapi.h>

#include <string>

bool StartsDirectly(const QString &path)
{
    return QFileInfo(path).suffix().compare(u"exe", Qt::CaseInsensitive) == 0;
}

// A program file starts on its own, in this program's working directory; anything else
// goes to the shell's "open", which picks the program the file's type belongs to.
void OpenSetupProgram(const QString &path)
{
    const std::wstring file = QString(path).replace(u'/', u'\\').toStdWString();
    if (StartsDirectly(path)) {
        std::wstring commandLine = L"\"" + file + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (CreateProcessW(file.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                           nullptr, &startup, &process)) {
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
        return;
    }
    ShellExecuteW(nullptr, L"open", file.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}
