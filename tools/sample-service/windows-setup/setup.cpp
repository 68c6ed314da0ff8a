// The sample product's setup program for Windows: it records that it ran, and in which working
// directory, in setup-ran.txt next to itself.
#include <windows.h>

#include <string>

namespace {

std::string Utf8(const std::wstring &Text)
{
    const int Size = WideCharToMultiByte(CP_UTF8, 0, Text.c_str(), int(Text.size()), nullptr, 0, nullptr, nullptr);
    std::string Bytes(size_t(Size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, Text.c_str(), int(Text.size()), Bytes.data(), Size, nullptr, nullptr);
    return Bytes;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    std::wstring Self(MAX_PATH, L'\0');
    Self.resize(GetModuleFileNameW(nullptr, Self.data(), DWORD(Self.size())));
    std::wstring Marker = Self.substr(0, Self.find_last_of(L'\\') + 1) + L"setup-ran.txt";
    std::wstring Here(MAX_PATH, L'\0');
    Here.resize(GetCurrentDirectoryW(DWORD(Here.size()), Here.data()));

    SYSTEMTIME Now;
    GetLocalTime(&Now);
    char Stamp[64];
    wsprintfA(Stamp, "%04u-%02u-%02u %02u:%02u:%02u", Now.wYear, Now.wMonth, Now.wDay, Now.wHour, Now.wMinute,
              Now.wSecond);
    const std::string Text = "setup ran at " + std::string(Stamp) + "\r\nworking directory: " + Utf8(Here) + "\r\n";

    const HANDLE File = CreateFileW(Marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (File == INVALID_HANDLE_VALUE)
        return 1;
    DWORD Written = 0;
    const bool Done = WriteFile(File, Text.data(), DWORD(Text.size()), &Written, nullptr) && Written == Text.size();
    CloseHandle(File);
    return Done ? 0 : 1;
}
