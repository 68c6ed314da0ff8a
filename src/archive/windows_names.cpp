#include "windows_names.h"

#include <QStringList>

namespace {

bool IsDeviceName(const QString &Name)
{
    // The device is meant whatever extension follows and whatever blanks precede it.
    QString Base = Name.left(Name.indexOf(u'.')).toUpper();
    while (Base.endsWith(u' '))
        Base.chop(1);
    static const QStringList Devices{"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    if (Devices.contains(Base))
        return true;
    if (Base.size() != 4 || !(Base.startsWith(u"COM") || Base.startsWith(u"LPT")))
        return false;
    const QChar Digit = Base[3];
    return (Digit >= u'0' && Digit <= u'9') || Digit == u'\u00B9' || Digit == u'\u00B2' || Digit == u'\u00B3';
}

} // namespace

TWindowsName ClassifyWindowsName(const QString &Name)
{
    if (Name.contains(u':'))
        return TWindowsName::HoldsColon;
    if (Name.isEmpty() || Name.endsWith(u'.') || Name.endsWith(u' ') || Name.contains(u'*') ||
        Name.contains(u'?') || IsDeviceName(Name))
        return TWindowsName::Refused;
    return TWindowsName::Usable;
}
