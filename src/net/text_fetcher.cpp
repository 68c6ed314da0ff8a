#include "text_fetcher.h"

#include "http_client.h"
#include "text.h"

#include <QBuffer>

QByteArray FetchBytes(const QString &address)
{
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    ByteSink sink(buffer);
    sink.MaxSize = LongestFetchedBody;
    HttpClient client;
    client.Get(address, sink);
    client.Disconnect();
    return buffer.data();
}

QString FetchText(const QString &address, CodePage codePage)
{
    if (codePage == CodePage::Gbk && !GbkAvailable())
        throw Failure(QStringLiteral("EEncodingError"), QStringLiteral("Invalid code page"));
    try {
        const QByteArray body = FetchBytes(address);
        if (codePage == CodePage::Gbk)
            return DecodeGbk(body);
        return DecodeUtf8Strict(body).value_or(QString());
    } catch (...) {
        return {};
    }
}
