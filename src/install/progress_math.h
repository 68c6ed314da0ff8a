#pragma once

#include <QString>
#include <QtGlobal>

// The arithmetic of the download progress display.

// The whole percentage of done bytes out of total: the ratio as a double, multiplied by 100
// without rounding and truncated, so 3 of 100 gives 2 and 29 of 100 gives 28. total must not
// be 0.
qint64 WholePercent(qint64 done, qint64 total);

// A byte count in the bar's units of 100 bytes, taken through a 32-bit float as the bar holds
// it, and kept within what the bar can show.
int BarUnits(qint64 bytes);

// A byte count for people: "512 B", "1.5 KB", "1.5 MB", "2.0 GB" (units of 1024).
QString ReadableSize(qint64 bytes);
