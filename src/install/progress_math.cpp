#include "progress_math.h"

#include <cfloat>
#include <climits>

// The product of a double and 100 needs 60 bits of mantissa to be exact.
static_assert(LDBL_MANT_DIG >= 64, "long double must hold the exact product of a double and 100");

qint64 WholePercent(qint64 done, qint64 total)
{
    const double ratio = static_cast<double>(done) / static_cast<double>(total);
    return static_cast<qint64>(static_cast<long double>(ratio) * 100.0L);
}

int BarUnits(qint64 bytes)
{
    const float units = static_cast<float>(bytes / 100);
    if (units >= static_cast<float>(INT_MAX))
        return INT_MAX;
    if (units <= static_cast<float>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(units);
}

QString ReadableSize(qint64 bytes)
{
    if (bytes < 1024)
        return QString::number(bytes) + QStringLiteral(" B");
    static const char *const units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    double value = static_cast<double>(bytes) / 1024.0;
    int unit = 0;
    while (value >= 1023.95 && unit < 5) { // never "1024.0 KB"
        value /= 1024.0;
        ++unit;
    }
    return QString::number(value, 'f', 1) + u' ' + QLatin1String(units[unit]);
}
