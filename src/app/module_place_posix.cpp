#include "module_place.h"

#include <dlfcn.h>

quint32 PlaceInModule(quintptr address)
{
    Dl_info info;
    if (address && dladdr(reinterpret_cast<void *>(address), &info) && info.dli_fbase)
        address -= reinterpret_cast<quintptr>(info.dli_fbase);
    return quint32(address);
}
