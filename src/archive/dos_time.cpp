#include "dos_time.h"

QDateTime DosDateTimeToLocal(quint32 DosDateTime)
{
    const quint32 Date = DosDateTime >> 16;
    const quint32 Time = DosDateTime & 0xFFFF;
    const int Year = int(Date >> 9) + 1980;
    const int Month = (Date >> 5) & 0x0F;
    const int Day = Date & 0x1F;
    const int Hour = Time >> 11;
    const int Minute = (Time >> 5) & 0x3F;
    const int Second = (Time & 0x1F) * 2;
    if (!QDate::isValid(Year, Month, Day) || !QTime::isValid(Hour, Minute, Second))
        return {};
    const QDate DayOf(Year, Month, Day);
    const QTime TimeOf(Hour, Minute, Second);
    const QDateTime Local(DayOf, TimeOf, Qt::LocalTime);
    if (Local.isValid())
        return Local;
    // A time skipped by a change to daylight saving time: read with the offset of the day before.
    const int Offset = QDateTime(DayOf.addDays(-1), TimeOf, Qt::LocalTime).offsetFromUtc();
    return QDateTime(DayOf, TimeOf, Qt::UTC).addSecs(-Offset);
}
