// A reply as the HTTP client reads it from a connection: the head (interim 1xx heads skipped)
// and the body in its framing: Content-Length, chunked with its trailer, multipart, or up to
// the close. The first byte of the input sets how many bytes each receive hands out (0: as
// many as a socket receive takes), the rest is what the server sent before closing.
//
// A success delivers exactly the body its framing describes and counts the bytes it took as
// progress; a failure carries one of the client's own texts, or the status line of a reply
// that is no success; the sink never keeps more than was written into it.
#include "connection.h"
#include "fuzz_support.h"
#include "http_client.h"
#include "memory_transport.h"
#include "proxy_rules.h"

#include <QTemporaryFile>

namespace {

// The reply's lines as the client splits them: at LF, a CR before it dropped.
class LineReader {
public:
    explicit LineReader(QByteArrayView bytes) : bytes_(bytes) {}

    qsizetype Position() const { return position_; }
    void Skip(qsizetype count) { position_ += count; }

    // Nothing when no LF is left, or before a line longer than the client reads.
    std::optional<QByteArrayView> Next()
    {
        const qsizetype end = bytes_.indexOf('\n', position_);
        if (end < 0 || end - position_ > Connection::MaxLineLength)
            return std::nullopt;
        QByteArrayView line = bytes_.sliced(position_, end - position_);
        position_ = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        return line;
    }

private:
    QByteArrayView bytes_;
    qsizetype position_ = 0;
};

// Where the body of the final reply starts, after any interim heads; nothing when the bytes
// hold no such head within the client's limits. The head found must be the one the client
// reported.
std::optional<qsizetype> BodyStart(QByteArrayView reply, const ReplyHead &reported, int maxHeaderLines)
{
    LineReader lines(reply);
    for (;;) {
        const std::optional<QByteArrayView> status = lines.Next();
        if (!status)
            return std::nullopt;
        qsizetype count = 0;
        for (std::optional<QByteArrayView> line = lines.Next(); !line || !line->isEmpty(); line = lines.Next()) {
            if (!line || ++count > maxHeaderLines)
                return std::nullopt;
        }
        const ReplyHead head{LineText(*status), {}};
        if (head.StatusCode() >= 100 && head.StatusCode() <= 199 && head.StatusCode() != 101)
            continue;
        FUZZ_REQUIRE(head.statusLine == reported.statusLine);
        FUZZ_REQUIRE(count == reported.lines.size());
        return lines.Position();
    }
}

// Without the bytes U+0000 to U+0020 at either end, as the client trims a field.
QByteArrayView TrimmedOfControls(QByteArrayView bytes)
{
    while (!bytes.isEmpty() && uchar(bytes.front()) <= 0x20)
        bytes = bytes.sliced(1);
    while (!bytes.isEmpty() && uchar(bytes.back()) <= 0x20)
        bytes.chop(1);
    return bytes;
}

// A body's data, and the bytes its reading takes from the connection as progress (for a
// chunked body, the framing and the trailer too).
struct BodyRead {
    QByteArray data;
    qsizetype taken = 0;
};

// The data of a whole chunked body: each size line in hexadecimal (anything from a ';' on
// ignored), that many bytes and an empty line, up to the size 0 and the trailer's end.
std::optional<BodyRead> Dechunk(QByteArrayView body)
{
    LineReader lines(body);
    BodyRead result;
    for (;;) {
        const std::optional<QByteArrayView> line = lines.Next();
        if (!line)
            return std::nullopt;
        const qsizetype semicolon = line->indexOf(';');
        bool ok = false;
        const qint64 size =
            TrimmedOfControls(line->first(semicolon >= 0 ? semicolon : line->size())).toLongLong(&ok, 16);
        if (!ok || size < 0 || size > body.size() - lines.Position())
            return std::nullopt;
        if (size == 0)
            break;
        result.data += body.sliced(lines.Position(), size);
        lines.Skip(size);
        const std::optional<QByteArrayView> end = lines.Next();
        if (!end || !end->isEmpty())
            return std::nullopt;
    }
    for (std::optional<QByteArrayView> trailer = lines.Next(); !trailer || !trailer->isEmpty();
         trailer = lines.Next()) {
        if (!trailer)
            return std::nullopt;
    }
    result.taken = lines.Position();
    return result;
}

// The body a successful read of the reply must have delivered, and the bytes it took; nothing
// when the reply holds no such body.
std::optional<BodyRead> ExpectedBody(QByteArrayView rest, const ReplyHead &head)
{
    const std::optional<qint64> length = head.ContentLength();
    if (head.StatusCode() == 204 || (!head.Chunked() && length == 0))
        return BodyRead{};
    if (head.Chunked())
        return Dechunk(rest);
    if (length) {
        if (*length > rest.size())
            return std::nullopt;
        return BodyRead{rest.first(*length).toByteArray(), qsizetype(*length)};
    }
    if (head.MediaType().startsWith(QLatin1String("multipart/"))) {
        const QByteArray terminator = "--" + head.Boundary().toLatin1() + "--";
        const qsizetype found = rest.indexOf(terminator);
        if (found < 0)
            return BodyRead{rest.toByteArray(), rest.size()};
        // The rest of the terminator's line is taken too, and dropped; counted only when whole.
        const QByteArray data = rest.first(found + terminator.size()).toByteArray();
        LineReader lines(rest);
        lines.Skip(data.size());
        const qsizetype taken = lines.Next() ? lines.Position() : data.size();
        return BodyRead{data, taken};
    }
    return BodyRead{rest.toByteArray(), rest.size()};
}

bool IsSuccess(const ReplyHead &head)
{
    return head.StatusCode() >= 200 && head.StatusCode() <= 299;
}

bool IsOwnText(const QString &message)
{
    static const QStringList texts = {
        QStringLiteral("Connection Closed Gracefully."),
        QStringLiteral("Max line length exceeded."),
        QStringLiteral("Too many header lines."),
        QStringLiteral("Data is too large for stream"),
    };
    return texts.contains(message);
}

// The body goes to a file, as a download's does: a file is grown to an announced length
// without that much memory.
QTemporaryFile &SinkFile()
{
    static QTemporaryFile file;
    if (!file.isOpen())
        FUZZ_REQUIRE(file.open());
    FUZZ_REQUIRE(file.resize(0) && file.seek(0));
    return file;
}

struct Progress {
    int begun = 0;
    int ended = 0;
    qint64 count = 0;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The same requests whatever proxy the environment names.
    SetProcessProxyRules(ProxyRules::Fixed({}, {}));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const qsizetype pieceSize = data[0] == 0 ? Transport::ReceiveSize : data[0];
    const QByteArray reply = InputBytes(data + 1, size - 1).toByteArray();

    HttpClient client;
    client.OpenTransport = [&] { return std::make_unique<MemoryTransport>(reply, pieceSize); };
    std::optional<ReplyHead> head;
    client.OnReplyHead = [&](HttpClient &, const ReplyHead &reported) {
        FUZZ_REQUIRE(!head);
        head = reported;
    };
    Progress progress;
    client.OnWorkBegin = [&](HttpClient &, TWorkMode mode, qint64) {
        FUZZ_REQUIRE(mode == wmRead && progress.begun == progress.ended);
        ++progress.begun;
        progress.count = 0;
    };
    client.OnWork = [&](HttpClient &, TWorkMode, qint64 count) {
        FUZZ_REQUIRE(progress.begun == progress.ended + 1 && count > progress.count && count <= reply.size());
        progress.count = count;
    };
    client.OnWorkEnd = [&](HttpClient &, TWorkMode) { ++progress.ended; };

    QTemporaryFile &file = SinkFile();
    ByteSink sink(file);
    std::optional<QString> failure;
    try {
        client.Get(QStringLiteral("http://example.com/f"), sink);
    } catch (const TransferError &error) {
        failure = error.Message();
        if (!IsOwnText(error.Message())) {
            FUZZ_REQUIRE(head && error.Message() == head->statusLine && error.StatusCode() == head->StatusCode());
            FUZZ_REQUIRE(!IsSuccess(*head));
        }
    } catch (const Failure &error) {
        // Only a length no file can take makes the sink fail.
        FUZZ_REQUIRE(error.Kind() == QLatin1String("EStreamError"));
        failure = error.Message();
    }
    FUZZ_REQUIRE(progress.begun == progress.ended);

    // The sink holds what was written and nothing beyond: a presized file is cut back.
    const qint64 written = file.pos();
    FUZZ_REQUIRE(file.size() == written && written <= reply.size());
    FUZZ_REQUIRE(file.seek(0));
    const QByteArray body = file.read(written);

    const std::optional<qsizetype> start = head ? BodyStart(reply, *head, client.MaxHeaderLines) : std::nullopt;
    FUZZ_REQUIRE(start || !head);
    if (!failure) {
        FUZZ_REQUIRE(head && IsSuccess(*head));
        const std::optional<BodyRead> expected = ExpectedBody(QByteArrayView(reply).sliced(*start), *head);
        FUZZ_REQUIRE(expected && body == expected->data);
        FUZZ_REQUIRE(progress.count == (progress.begun ? expected->taken : 0));
    } else if (start && IsSuccess(*head) && !head->Chunked()) {
        FUZZ_REQUIRE(QByteArrayView(reply).sliced(*start).startsWith(body));
    } else if (!head || !IsSuccess(*head)) {
        FUZZ_REQUIRE(body.isEmpty());
    }
    return 0;
}
