// packtool show: prints a package as the installer reads it.

#include "commands.h"
#include "failure.h"
#include "minisign.h"
#include "package_reader.h"

namespace {

// A field is printed on one line as it stands, except that a backslash and the control
// characters are escaped: a NUL would cut the output short, and a line break or an escape
// sequence could pass for another field or repaint the terminal.
QString Escaped(const QString &value)
{
    QString out;
    out.reserve(value.size());
    for (const QChar c : value) {
        const char16_t u = c.unicode();
        if (u == u'\\')
            out += QStringLiteral("\\\\");
        else if (u < 0x20 || u == 0x7F)
            out += QStringLiteral("\\x%1").arg(uint(u), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

void PrintSettings(const PackageSettings &settings)
{
    const std::pair<const char *, const QString &> rows[] = {
        {"PackageId", settings.PackageId},
        {"LauncherName", settings.LauncherName},
        {"AddressTriple", settings.AddressTriple},
        {"BannerAddress", settings.BannerAddress},
        {"AdAddress", settings.AdAddress},
        {"NoticeAddress", settings.NoticeAddress},
        {"VersionListAddress", settings.VersionListAddress},
    };
    for (const auto &[name, value] : rows)
        Print(stdout, QStringLiteral("%1: %2\n").arg(QLatin1String(name), Escaped(value)));
    // Packages without a key print as they always did.
    if (settings.PublicKey.isEmpty())
        return;
    const std::optional<PublicKey> key = ParsePublicKeyLine(settings.PublicKey.toLatin1());
    Print(stdout, QStringLiteral("PublicKey: %1 (%2)\n")
                      .arg(Escaped(settings.PublicKey), key ? QStringLiteral("key id ") + KeyIdHex(key->id)
                                                   : QStringLiteral("malformed: every archive is refused")));
}

} // namespace

int RunShow(const QStringList &arguments)
{
    if (arguments.size() != 1)
        return UsageError(QStringLiteral("show takes one package file"));
    const QString path = arguments.first();
    try {
        const PackageLoad load = LoadPackage(path);
        if (load.Outcome == PackageOutcome::Loaded) {
            PrintSettings(load.Settings);
            return 0;
        }
        if (load.Outcome == PackageOutcome::VersionMismatch)
            PrintSettings(load.Settings);
        Print(stderr, QStringLiteral("packtool: the installer would show \"%1\" and end\n")
                          .arg(PackageNotice(load.Outcome, path)));
    } catch (const Failure &failure) {
        Print(stderr, QStringLiteral("packtool: the installer would fail with %1: %2\n")
                          .arg(failure.Kind(), failure.Message()));
    }
    return 1;
}
