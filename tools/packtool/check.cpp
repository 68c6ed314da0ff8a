// packtool check: fetches what the installer would fetch for a package and says what the
// installer would make of every reply. With --download it also downloads and test-unpacks
// every version's archive.

#include "archive_trust.h"
#include "banner_picture.h"
#include "commands.h"
#include "failure.h"
#include "http_client.h"
#include "package_reader.h"
#include "path_rules.h"
#include "progress_math.h"
#include "service_replies.h"
#include "setup_launcher.h"
#include "text.h"
#include "text_fetcher.h"
#include "zip_extract.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {

class Report {
public:
    void Ok(const QString &topic, const QString &text) { Line("ok  ", topic, text); }
    // Works as the publisher may mean it, but deserves a look.
    void Note(const QString &topic, const QString &text) { Line("note", topic, text); }
    void Fail(const QString &topic, const QString &text)
    {
        Line("FAIL", topic, text);
        ++failures;
    }
    void Detail(const QString &text) { Print(stdout, QStringLiteral("            %1\n").arg(text)); }

    int failures = 0;

private:
    static void Line(const char *mark, const QString &topic, const QString &text)
    {
        Print(stdout, QStringLiteral("[%1] %2: %3\n").arg(QLatin1String(mark), topic, text));
    }
};

// Control characters made visible, so that a stray line break in a reply shows.
QString Visible(const QString &text)
{
    QString shown;
    for (const QChar c : text) {
        if (c == u'\r')
            shown += QStringLiteral("\\r");
        else if (c == u'\n')
            shown += QStringLiteral("\\n");
        else if (c == u'\t')
            shown += QStringLiteral("\\t");
        else if (c.unicode() < 0x20)
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QChar(u'0'));
        else
            shown += c;
    }
    return u'"' + shown + u'"';
}

void CheckBanner(Report &report, const QString &address)
{
    const QString topic = QStringLiteral("banner");
    QByteArray body;
    try {
        body = FetchBytes(address);
    } catch (const Failure &failure) {
        return report.Fail(
            topic, QStringLiteral("%1: %2; the built-in banner stays").arg(address, failure.Message()));
    }
    if (body.isEmpty())
        return report.Note(topic, QStringLiteral("empty reply: the banner becomes transparent"));
    const QByteArray format = PictureFormatOf(body);
    if (format.isEmpty()) {
        return report.Fail(topic, QStringLiteral("the leading bytes %1 name no accepted picture format; the "
                                                 "built-in banner stays")
                                      .arg(QString::fromLatin1(body.left(4).toHex(' ').toUpper())));
    }
    try {
        const QImage picture = LoadBannerPicture(body, QImage());
        // A large picture is decoded at the banner's size: the publisher wants to hear its own.
        const QSize declared = PictureSizeOf(body);
        const QSize size = declared.isValid() ? declared : picture.size();
        report.Ok(topic, QStringLiteral("%1, %2 x %3 pixels%4")
                             .arg(QString::fromLatin1(format).toUpper())
                             .arg(size.width())
                             .arg(size.height())
                             .arg(size == BannerSize ? QString() : QStringLiteral(", stretched to 965 x 477")));
    } catch (const Failure &failure) {
        report.Fail(topic,
                    QStringLiteral("a %1 picture that cannot be decoded (%2); the built-in banner stays")
                        .arg(QString::fromLatin1(format).toUpper(), failure.Message()));
    }
}

void CheckNotice(Report &report, const QString &address)
{
    const QString topic = QStringLiteral("notice");
    const QString dropped = QStringLiteral("; dropped, the closing text names the service number instead");
    QByteArray body;
    try {
        body = FetchBytes(address);
    } catch (const Failure &failure) {
        return report.Fail(topic, QStringLiteral("%1: %2").arg(address, failure.Message()) + dropped);
    }
    const std::optional<QString> text = DecodeUtf8Strict(body);
    if (!text)
        return report.Fail(topic, QStringLiteral("not valid UTF-8") + dropped);
    const QString kept = KeptNotice(*text);
    if (kept.isEmpty())
        return report.Fail(topic, QStringLiteral("does not contain \"请加客服\"") + dropped);
    report.Ok(topic, QStringLiteral("kept, shown after an install: ") + Visible(kept));
}

QVector<VersionEntry> CheckVersionList(Report &report, const PackageSettings &settings)
{
    const QString topic = QStringLiteral("version list");
    const QString query = VersionListQuery(settings.VersionListAddress, settings.PackageId);
    QByteArray body;
    try {
        body = FetchBytes(query);
    } catch (const Failure &failure) {
        report.Fail(topic, QStringLiteral("%1: %2; the list stays empty").arg(query, failure.Message()));
        return {};
    }
    const VersionList list = ParseVersionList(DecodeGbk(body));
    if (list.entries.isEmpty())
        report.Fail(topic, query + QStringLiteral(": no versions, nothing can be installed"));
    else
        report.Ok(topic, QStringLiteral("%1: %2 version(s)").arg(query).arg(list.entries.size()));
    for (const VersionEntry &entry : list.entries)
        report.Detail(QStringLiteral("id %1  %2").arg(Visible(entry.id), Visible(entry.text)));
    for (const MalformedEntry &entry : list.malformed) {
        report.Fail(topic, QStringLiteral("entry %1 %2 is %3 and is skipped")
                               .arg(entry.index)
                               .arg(Visible(entry.entry))
                               .arg(entry.entry.isEmpty() ? QStringLiteral("empty")
                                                          : QStringLiteral("without a backtick")));
    }
    for (const VersionEntry &entry : list.entries) {
        if (entry.id != TrimControls(entry.id))
            report.Note(topic, QStringLiteral("id %1 holds blanks or a line break (one after a \"|\"?); "
                                              "it is sent as it is")
                                   .arg(Visible(entry.id)));
    }
    return list.entries;
}

// Downloads the archive as the installer does and unpacks it into a temporary folder.
void CheckDownload(Report &report, const QString &topic, const QString &address, const QString &archiveName,
                   const QString &unpackName, const PackageSettings &settings)
{
    const QString &launcherName = settings.LauncherName;
    QTemporaryDir folder;
    const QString archivePath = folder.path() + u'/' + archiveName;
    QFile archive(archivePath);
    if (!folder.isValid() || !archive.open(QIODevice::ReadWrite | QIODevice::Truncate))
        return report.Fail(topic, QStringLiteral("cannot create a temporary file: ") + archive.errorString());
    try {
        ByteSink sink(archive);
        HttpClient client;
        client.HandleRedirects = true;
        client.Get(address, sink);
        client.Disconnect();
    } catch (const Failure &failure) {
        return report.Fail(topic, QStringLiteral("the download fails (%1): the installer shows its download "
                                                 "failure notice and ends")
                                      .arg(failure.Message()));
    }
    const qint64 size = archive.size();
    archive.close();
    if (!settings.PublicKey.isEmpty()) {
        const ArchiveVerdict verdict = VerifySignedArchive(archivePath, settings.PublicKey.toLatin1());
        if (!verdict.ok) {
            return report.Fail(topic,
                               QStringLiteral("%1 downloaded, but %2: the installer deletes it and shows "
                                              "\"%3\"")
                                   .arg(ReadableSize(size), ArchiveVerdictText(verdict),
                                        QString::fromUtf16(TamperedArchiveNotice)));
        }
        report.Detail(ArchiveVerdictText(verdict));
    }
    const QString unpackFolder = folder.path() + u'/' + unpackName;
    try {
        ExtractZipFile(archivePath, unpackFolder, 936);
    } catch (const Failure &failure) {
        return report.Fail(topic, QStringLiteral("%1 downloaded, but unpacking fails: %2")
                                      .arg(ReadableSize(size), failure.Message()));
    }
    const QFileInfo setup(SetupProgramPath(unpackFolder, launcherName));
    if (!setup.isFile()) {
        return report.Fail(topic, QStringLiteral("%1 downloaded and unpacked, but it holds no \"%2\"")
                                      .arg(ReadableSize(size), launcherName));
    }
    report.Ok(topic,
              QStringLiteral("%1 downloaded and unpacked; \"%2\" %3")
                  .arg(ReadableSize(size), launcherName,
                       StartsDirectly(setup.filePath())
                           ? QStringLiteral("is executable and is started directly")
                           : QStringLiteral("is not executable and is opened with the "
                                            "desktop's default application")));
}

void CheckVersion(Report &report, const PackageSettings &settings, const VersionEntry &entry, bool download)
{
    const QString topic = QStringLiteral("version %1").arg(Visible(entry.id));
    const QString query = DownloadLookupQuery(settings.VersionListAddress, settings.PackageId, entry.id);
    QString reply;
    try {
        reply = DecodeGbk(FetchBytes(query));
    } catch (const Failure &failure) {
        report.Detail(QStringLiteral("%1: %2").arg(query, failure.Message()));
    }
    const LookupVerdict verdict = JudgeLookupReply(reply);
    if (verdict.kind == LookupVerdict::ServiceError)
        return report.Note(
            topic,
            QStringLiteral("the lookup answers %1, which the user is shown").arg(Visible(verdict.text)));
    if (verdict.kind == LookupVerdict::Refused) {
        return report.Fail(
            topic, QStringLiteral("the lookup answers %1, not an http:// or https:// address: the installer "
                                  "says the download address is wrong")
                       .arg(Visible(verdict.text)));
    }
    const QString archiveName = LastPathSegment(verdict.text);
    const QString unpackName = BaseNameOf(FileNameOf(archiveName));
    if (archiveName.isEmpty() || unpackName == archiveName) {
        return report.Fail(topic,
                           QStringLiteral("%1 does not end in a file name with an extension: the archive "
                                          "cannot be put in place and the install ends")
                               .arg(verdict.text));
    }
    report.Ok(topic, QStringLiteral("%1 -> download/%2, unpacked into download/%3/")
                         .arg(verdict.text, archiveName, unpackName));
    if (download)
        CheckDownload(report, topic, verdict.text, archiveName, unpackName, settings);
}

} // namespace

int RunCheck(const QStringList &arguments)
{
    QStringList files = arguments;
    const bool download = files.removeAll(QStringLiteral("--download")) > 0;
    if (files.size() != 1)
        return UsageError(QStringLiteral("check takes one package file"));
    const QString path = files.first();

    Report report;
    PackageLoad load;
    try {
        load = LoadPackage(path);
    } catch (const Failure &failure) {
        report.Fail(QStringLiteral("package"),
                    QStringLiteral("the installer fails with %1: %2").arg(failure.Kind(), failure.Message()));
        return 1;
    }
    if (load.Outcome != PackageOutcome::Loaded) {
        report.Fail(
            QStringLiteral("package"),
            QStringLiteral("the installer shows \"%1\" and ends").arg(PackageNotice(load.Outcome, path)));
        return 1;
    }
    const PackageSettings &settings = load.Settings;
    report.Ok(QStringLiteral("package"),
              QStringLiteral("%1: package id %2, setup program %3")
                  .arg(path, Visible(settings.PackageId), Visible(settings.LauncherName)));
    if (!settings.PublicKey.isEmpty()) {
        const std::optional<PublicKey> key = ParsePublicKeyLine(settings.PublicKey.toLatin1());
        if (key)
            report.Ok(QStringLiteral("package"),
                      QStringLiteral("archives must be signed by key %1").arg(KeyIdHex(key->id)));
        else
            report.Fail(QStringLiteral("package"),
                        QStringLiteral("the public key %1 is malformed: the installer refuses every archive")
                            .arg(Visible(settings.PublicKey)));
    }

    CheckBanner(report, settings.BannerAddress);
    CheckNotice(report, settings.NoticeAddress);
    for (const VersionEntry &entry : CheckVersionList(report, settings))
        CheckVersion(report, settings, entry, download);

    if (report.failures == 0)
        Print(stdout, QStringLiteral("all checks passed\n"));
    else
        Print(stdout, QStringLiteral("%1 check(s) failed\n").arg(report.failures));
    return report.failures == 0 ? 0 : 1;
}
