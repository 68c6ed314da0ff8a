// httpfetch: one Get the way the installer performs it, for trying addresses and measuring.
#include "proxy_rules.h"
#include "resuming_download.h"
#include "text_fetcher.h"
#include "transfer_log.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QTextStream>
#include <cstdio>

namespace {

const char Usage[] = "usage: httpfetch URL [-o FILE] [--follow] [--retry N] [--verbose | --progress]\n"
                     "                    [--proxy URL] [--noproxy LIST]\n"
                     "       httpfetch URL --text gbk|utf8 [--proxy URL] [--noproxy LIST]\n"
                     "  -o FILE      write the body into FILE instead of standard output\n"
                     "  --follow     follow redirects\n"
                     "  --retry N    try a download that failed on the way up to N times more, resuming\n"
                     "               where the server allows it, as the installer does (default 0)\n"
                     "  --verbose    print every request, the proxy it went through, its head and every\n"
                     "               progress event on standard error\n"
                     "  --proxy URL  the proxy for every request, instead of the system's (\"\": none)\n"
                     "  --noproxy L  hosts that go direct (comma-separated, as no_proxy)\n"
                     "  --progress   count the progress events and print the totals on standard error\n"
                     "  --text CP    print the body decoded as the text fetcher does (never fails)\n";

struct Options {
    QString address;
    QString output;
    QString text;
    bool follow = false;
    int retries = 0;
    std::optional<QString> proxy;
    std::optional<QString> noProxy;
    bool verbose = false;
    bool progress = false;
};

std::optional<Options> ParseOptions(const QStringList &arguments)
{
    Options options;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (argument == u"-o" && i + 1 < arguments.size())
            options.output = arguments[++i];
        else if (argument == u"--text" && i + 1 < arguments.size())
            options.text = arguments[++i];
        else if (argument == u"--proxy" && i + 1 < arguments.size())
            options.proxy = arguments[++i];
        else if (argument == u"--noproxy" && i + 1 < arguments.size())
            options.noProxy = arguments[++i];
        else if (argument == u"--follow")
            options.follow = true;
        else if (argument == u"--retry" && i + 1 < arguments.size()) {
            bool ok = false;
            options.retries = arguments[++i].toInt(&ok);
            if (!ok || options.retries < 0)
                return std::nullopt;
        } else if (argument == u"--verbose")
            options.verbose = true;
        else if (argument == u"--progress")
            options.progress = true;
        else if (!argument.startsWith(u'-') && options.address.isEmpty())
            options.address = argument;
        else
            return std::nullopt;
    }
    const bool textMode = !options.text.isEmpty();
    if (options.address.isEmpty() || (options.verbose && options.progress) ||
        (textMode && (options.text != u"gbk" && options.text != u"utf8")) ||
        (textMode && (!options.output.isEmpty() || options.follow || options.retries > 0 || options.verbose ||
                      options.progress)))
        return std::nullopt;
    return options;
}

const char *ModeName(TWorkMode mode)
{
    return mode == wmRead ? "wmRead" : "wmWrite";
}

struct Totals {
    qint64 begins = 0, works = 0, ends = 0, lastCount = 0;
};

void AttachObservers(ResumingDownload &client, const Options &options, Totals &totals)
{
    if (options.verbose) {
        client.OnRequestHead = [](HttpClient &, const QByteArray &head) {
            QByteArray shown = head;
            // Credentials stay off the screen.
            static const QRegularExpression authorization(QStringLiteral("(Proxy-Authorization: \\S+ )\\S+"));
            shown =
                QString::fromLatin1(shown).replace(authorization, QStringLiteral("\\1<hidden>")).toLatin1();
            std::fprintf(stderr, "> %s\n", shown.replace("\r\n", "\n> ").constData());
        };
        client.OnWorkBegin = [](HttpClient &, TWorkMode mode, qint64 max) {
            std::fprintf(stderr, "OnWorkBegin %s %lld\n", ModeName(mode), static_cast<long long>(max));
        };
        client.OnWork = [](HttpClient &, TWorkMode mode, qint64 count) {
            std::fprintf(stderr, "OnWork %s %lld\n", ModeName(mode), static_cast<long long>(count));
        };
        client.OnWorkEnd = [](HttpClient &, TWorkMode mode) {
            std::fprintf(stderr, "OnWorkEnd %s\n", ModeName(mode));
        };
        client.OnRetry = [](int retry, const QString &reason, int waitMs) {
            std::fprintf(stderr, "retry %d in %d ms after: %s\n", retry, waitMs, reason.toUtf8().constData());
        };
    } else if (options.progress) {
        client.OnWorkBegin = [&totals](HttpClient &, TWorkMode, qint64) { ++totals.begins; };
        client.OnWork = [&totals](HttpClient &, TWorkMode, qint64 count) {
            ++totals.works;
            totals.lastCount = count;
        };
        client.OnWorkEnd = [&totals](HttpClient &, TWorkMode) { ++totals.ends; };
    }
}

int Fetch(const Options &options)
{
    ResumingDownload client;
    client.HandleRedirects = options.follow;
    client.Retries = options.retries;
    Totals totals;
    AttachObservers(client, options, totals);

    QFile file(options.output);
    QBuffer buffer;
    QIODevice &device = options.output.isEmpty() ? static_cast<QIODevice &>(buffer) : file;
    if (!device.open(QIODevice::ReadWrite | QIODevice::Truncate)) {
        std::fprintf(stderr, "httpfetch: cannot open %s: %s\n", qPrintable(options.output),
                     qPrintable(file.errorString()));
        return 1;
    }
    ByteSink sink(device);
    try {
        client.Get(options.address, sink);
    } catch (const Failure &failure) {
        std::fprintf(stderr, "%s\n", failure.Message().toUtf8().constData());
        return 1;
    }
    if (options.progress)
        std::fprintf(stderr, "OnWorkBegin %lld, OnWork %lld, OnWorkEnd %lld, last count %lld\n",
                     static_cast<long long>(totals.begins), static_cast<long long>(totals.works),
                     static_cast<long long>(totals.ends), static_cast<long long>(totals.lastCount));
    if (options.output.isEmpty())
        std::fwrite(buffer.data().constData(), 1, static_cast<size_t>(buffer.data().size()), stdout);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const std::optional<Options> options = ParseOptions(application.arguments());
    if (!options) {
        std::fputs(Usage, stderr);
        return 2;
    }
    if (options->proxy)
        SetProcessProxyRules(ProxyRules::Fixed(*options->proxy, options->noProxy.value_or(QString())));
    else if (options->noProxy)
        SetProcessProxyRules(ProcessProxyRules().Exempting(*options->noProxy));
    if (options->verbose)
        SetThreadTransferLog(
            [](const QString &line) { std::fprintf(stderr, "* %s\n", line.toUtf8().constData()); });
    if (!options->text.isEmpty()) {
        const CodePage codePage = options->text == u"gbk" ? CodePage::Gbk : CodePage::Utf8;
        const QByteArray text = FetchText(options->address, codePage).toUtf8();
        std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stdout);
        return 0;
    }
    return Fetch(*options);
}
