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
    return QDateTime(QDate(Year, Month, Day), QTime(Hour, Minute, Second), Qt::LocalTime);
}
