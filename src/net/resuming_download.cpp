#include "resuming_download.h"

#include "network_wait.h"
#include "text.h"
#include "transfer_log.h"

#include <QRegularExpression>

namespace {

// What lets a later try ask for the rest of the same body.
struct Validator {
    QString header; // "If-Range" value; empty when the body cannot be resumed
};

Validator ValidatorOf(const ReplyHead &reply)
{
    if (FoldAsciiCase(reply.Header(u"Accept-Ranges")) != QLatin1String("bytes"))
        return {};
    // A weak entity tag cannot vouch for byte ranges (RFC 9110 13.1.5).
    const QString etag = reply.Header(u"ETag");
    if (!etag.isEmpty() && !etag.startsWith(QLatin1String("W/")))
        return {etag};
    return {reply.Header(u"Last-Modified")};
}

// The first byte a 206 reply carries, from "Content-Range: bytes first-last/length".
std::optional<qint64> RangeStart(const ReplyHead &reply)
{
    static const QRegularExpression form(QStringLiteral("^bytes +([0-9]+)-([0-9]+)/([0-9]+|\\*)$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = form.match(reply.Header(u"Content-Range"));
    if (!match.hasMatch())
        return std::nullopt;
    bool ok = false;
    const qint64 first = match.captured(1).toLongLong(&ok);
    const qint64 last = ok ? match.captured(2).toLongLong(&ok) : 0;
    if (!ok || last < first)
        return std::nullopt;
    return first;
}

// A reply that cannot continue the bytes written: the next try starts over at once.
class StartOver : public TransferError {
public:
    explicit StartOver(const QString &why) : TransferError(why) {}
};

} // namespace

bool WorthRetrying(const TransferError &error)
{
    static const int later[] = {408, 429, 500, 502, 503, 504};
    return error.IsNetworkFault() ||
           std::find(std::begin(later), std::end(later), error.StatusCode()) != std::end(later);
}

void ResumingDownload::Get(const QString &address, ByteSink &sink)
{
    const qint64 start = sink.Position();
    Validator validator;
    for (int attempt = 0;; ++attempt) {
        const qint64 have = sink.Size() - start;
        const bool resuming = have > 0 && !validator.header.isEmpty();
        if (resuming) {
            sink.Seek(start + have);
            LogTransfer(QStringLiteral("resuming at byte %1").arg(have));
        } else {
            sink.SetSize(start);
            sink.Seek(start);
        }

        HttpClient client;
        client.HandleRedirects = HandleRedirects;
        client.OnRequestHead = OnRequestHead;
        if (resuming)
            client.ExtraHeaders = {QStringLiteral("Range: bytes=%1-").arg(have),
                                   QStringLiteral("If-Range: ") + validator.header};
        qint64 offset = 0; // bytes of the body before the ones this reply carries
        client.OnReplyHead = [&](HttpClient &, const ReplyHead &reply) {
            const int status = reply.StatusCode();
            offset = 0;
            if (status < 200 || status > 299)
                return; // a redirect's or an error's own body
            if (status == 206) {
                if (!resuming || RangeStart(reply) != have)
                    throw StartOver(QStringLiteral("Content-Range does not continue at byte %1: %2")
                                        .arg(have)
                                        .arg(reply.Header(u"Content-Range")));
                offset = have;
                return;
            }
            if (resuming) {
                LogTransfer(QStringLiteral("the whole body again"));
                sink.SetSize(start);
                sink.Seek(start);
            }
            validator = ValidatorOf(reply);
        };
        client.OnWorkBegin = [&](HttpClient &sender, TWorkMode mode, qint64 max) {
            if (OnWorkBegin)
                OnWorkBegin(sender, mode, max > 0 ? max + offset : 0);
        };
        client.OnWork = [&](HttpClient &sender, TWorkMode mode, qint64 count) {
            if (OnWork)
                OnWork(sender, mode, count + offset);
        };
        client.OnWorkEnd = OnWorkEnd;

        try {
            client.Get(address, sink);
            client.Disconnect();
            return;
        } catch (const StartOver &error) {
            if (attempt >= Retries)
                throw;
            LogTransfer(error.Message());
            validator = {};
            continue;
        } catch (const TransferError &error) {
            if (resuming && error.StatusCode() == 416 && attempt < Retries) {
                validator = {};
                continue;
            }
            if (!WorthRetrying(error) || attempt >= Retries)
                throw;
            const int waitMs = RetryWaitsMs.isEmpty()
                                   ? 0
                                   : RetryWaitsMs[std::min<qsizetype>(attempt, RetryWaitsMs.size() - 1)];
            LogTransfer(QStringLiteral("retry %1 of %2 in %3 ms after: %4")
                            .arg(attempt + 1)
                            .arg(Retries)
                            .arg(waitMs)
                            .arg(error.Message()));
            if (OnRetry)
                OnRetry(attempt + 1, error.Message(), waitMs);
            SleepInSlices(QDeadlineTimer(waitMs));
        }
    }
}
