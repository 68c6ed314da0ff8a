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
     "        [--public-key FILE.pub] (-o pack.db | --append-to FILE [-o OUT] | --bundle FOLDER)\n"
     "      Writes a package. --append-to puts it at the end of a copy of FILE, written to OUT\n"
     "      or, without -o, over FILE itself; --bundle writes FOLDER/pack.db, making FOLDER if\n"
     "      needed, for scripts/bundle.sh FOLDER to ship. Files are replaced atomically. With\n"
     "      --public-key the installer accepts only archives signed with that minisign key."},
    {"show", RunShow,
     "show pack.db\n"
     "      Prints the package's fields as the installer reads them, or the error it would meet."},
    {"check", RunCheck,
     "check [--download] pack.db\n"
     "      Fetches the banner, notice, version list and address lookups as the installer would and\n"
     "      says what it makes of each; --download also downloads, verifies (when the package has\n"
     "      a public key) and test-unpacks every archive."},
    {"keygen", RunKeygen,
     "keygen -o NAME\n"
     "      Writes a new minisign key pair: NAME.pub and NAME.key (no password; keep it safe)."},
    {"sign", RunSign,
     "sign (--key NAME.key | --signature FILE.minisig [--public-key FILE.pub]) ARCHIVE [-o OUT]\n"
     "      Puts a signature of ARCHIVE into its ZIP comment, writing OUT or ARCHIVE itself:\n"
     "      made with the secret key (a key with a password reads it from standard input),\n"
     "      or one made by `minisign -S` on ARCHIVE (checked first when --public-key is given).\n"
     "      ARCHIVE must have no comment."},
    {"verify", RunVerify,
     "verify --public-key FILE.pub ARCHIVE\n"
     "      Checks a signed archive as the installer does; prints its trusted comment."},
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
