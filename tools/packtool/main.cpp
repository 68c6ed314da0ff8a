// packtool: the publisher's tool for the installer's data package, pack.db.

#include "commands.h"

#include <QCoreApplication>
#include <iterator>

namespace {

struct Command {
    const char *name;
    int (*run)(const QStringList &arguments);
    const char *usage;
};

const Command commands[] = {
    {"write", RunWrite,
     "write --pid ID --launcher FILE --banner URL --ad URL --notice URL --versions URL\n"
     "        (-o pack.db | --append-to FILE [-o OUT])\n"
     "      Writes a package. --append-to puts it at the end of a copy of FILE, written to OUT\n"
     "      or, without -o, over FILE itself. Files are replaced atomically."},
    {"show", RunShow,
     "show pack.db\n"
     "      Prints the package's fields as the installer reads them, or the error it would meet."},
    {"check", RunCheck,
     "check [--download] pack.db\n"
     "      Fetches the banner, notice, version list and address lookups as the installer would and\n"
     "      says what it makes of each; --download also downloads and test-unpacks every archive."},
};

} // namespace

void Print(std::FILE *stream, const QString &text)
{
    std::fputs(text.toUtf8().constData(), stream);
}

int UsageError(const QString &problem)
{
    if (!problem.isEmpty())
        Print(stderr, QStringLiteral("packtool: %1\n").arg(problem));
    Print(stderr, QStringLiteral("usage:\n"));
    for (const Command &command : commands)
        Print(stderr, QStringLiteral("  packtool %1\n").arg(QString::fromUtf8(command.usage)));
    return 2;
}

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.isEmpty())
        return UsageError({});
    const QString name = arguments.takeFirst();
    for (const Command &command : commands) {
        if (name == QLatin1String(command.name))
            return command.run(arguments);
    }
    return UsageError(QStringLiteral("unknown command \"%1\"").arg(name));
}
