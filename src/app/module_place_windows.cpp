#include "module_place.h"

#include <windows.h>

quint32 PlaceInModule(quintptr address)
{
    HMODULE module = nullptr;
    constexpr DWORD flags = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    // A module handle is the address the module was loaded at.
    if (address && GetModuleHandleExW(flags, reinterpret_cast<LPCWSTR>(address), &module))
        address -= reinterpret_cast<quintptr>(module);
    return quint32(address);
}
