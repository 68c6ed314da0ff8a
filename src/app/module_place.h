#pragma once

#include <QtGlobal>

// A code address as an offset into the module (program or library) that holds it, so that it
// can be looked up in that file whatever address the module was loaded at. An address in no
// module is given as it stands.
quint32 PlaceInModule(quintptr address);
