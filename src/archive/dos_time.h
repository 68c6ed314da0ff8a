#pragma once

#include <QDateTime>

// The local wall-clock time of a DOS date (high 16 bits) and time (low 16 bits); an invalid
// QDateTime when the value is no real calendar date and time of day (0 among them).
QDateTime DosDateTimeToLocal(quint32 DosDateTime);
