#include "cookie_store.h"

#include <QStringList>

namespace {

bool IsDelimiter(QChar c)
{
    const char16_t u = c.unicode();
    return u == 0x09 || (u >= 0x20 && u <= 0x2F) || (u >= 0x3B && u <= 0x40) || (u >= 0x5B && u <= 0x60) ||
           (u >= 0x7B && u <= 0x7E);
}

// The leading run of 1 to maxDigits digits of a token, or -1.
int LeadingNumber(QStringView token, int maxDigits, qsizetype *digits = nullptr)
{
    qsizetype n = 0;
    while (n < token.size() && token[n].isDigit() && token[n].unicode() < 0x80)
        ++n;
    if (digits)
        *digits = n;
    if (n == 0 || n > maxDigits)
        return -1;
    return token.left(n).toInt();
}

bool ParseTime(QStringView token, int &h, int &m, int &s)
{
    const auto fields = token.split(u':');
    if (fields.size() != 3)
        return false;
    int values[3];
    for (int i = 0; i < 3; ++i) {
        qsizetype digits = 0;
        values[i] = LeadingNumber(fields[i], 2, &digits);
        // Only the last field may carry trailing non-digits.
        if (values[i] < 0 || (i < 2 && digits != fields[i].size()))
            return false;
    }
    h = values[0];
    m = values[1];
    s = values[2];
    return true;
}

int MonthOf(QStringView token)
{
    static const char *const names[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                        "jul", "aug", "sep", "oct", "nov", "dec"};
    if (token.size() < 3)
        return 0;
    const QString prefix = token.left(3).toString().toLower();
    for (int i = 0; i < 12; ++i) {
        if (prefix == QLatin1String(names[i]))
            return i + 1;
    }
    return 0;
}

} // namespace

QDateTime ParseCookieDate(const QString &text)
{
    QStringList tokens;
    QString token;
    for (QChar c : text) {
        if (IsDelimiter(c)) {
            if (!token.isEmpty())
                tokens << token;
            token.clear();
        } else {
            token += c;
        }
    }
    if (!token.isEmpty())
        tokens << token;

    bool haveTime = false, haveDay = false, haveMonth = false, haveYear = false;
    int hour = 0, minute = 0, second = 0, day = 0, month = 0, year = 0;
    for (const QString &t : tokens) {
        qsizetype digits = 0;
        if (!haveTime && ParseTime(t, hour, minute, second)) {
            haveTime = true;
        } else if (!haveDay && (day = LeadingNumber(t, 2, &digits)) >= 0) {
            haveDay = true;
        } else if (!haveMonth && (month = MonthOf(t)) != 0) {
            haveMonth = true;
        } else if (!haveYear && (year = LeadingNumber(t, 4, &digits)) >= 0 && digits >= 2) {
            haveYear = true;
        }
    }
    if (!(haveTime && haveDay && haveMonth && haveYear))
        return {};
    if (year >= 70 && year <= 99)
        year += 1900;
    else if (year >= 0 && year <= 69)
        year += 2000;
    if (day < 1 || day > 31 || year < 1601 || hour > 23 || minute > 59 || second > 59)
        return {};
    const QDate date(year, month, day);
    if (!date.isValid())
        return {};
    return QDateTime(date, QTime(hour, minute, second), Qt::UTC);
}
