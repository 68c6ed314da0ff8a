#pragma once

#include "http_client.h"

#include <QBuffer>
#include <QStringList>
#include <optional>

// Runs one Get into a memory buffer and records everything a test looks at.
struct Fetched {
    QByteArray body;
    qint64 sinkSize = 0;
    QString error;      // empty on success
    int statusCode = 0; // of a TransferError
    QStringList events; // "begin N", "work N", "end"
};

inline void RecordProgress(HttpClient &client, QStringList &events)
{
    client.OnWorkBegin = [&events](HttpClient &, TWorkMode mode, qint64 max) {
        events << QStringLiteral("begin%1 %2").arg(mode == wmRead ? "" : " write").arg(max);
    };
    client.OnWork = [&events](HttpClient &, TWorkMode mode, qint64 count) {
        events << QStringLiteral("work%1 %2").arg(mode == wmRead ? "" : " write").arg(count);
    };
    client.OnWorkEnd = [&events](HttpClient &, TWorkMode mode) {
        events << QStringLiteral("end%1").arg(mode == wmRead ? "" : " write");
    };
}

inline Fetched Fetch(HttpClient &client, const QString &address)
{
    Fetched fetched;
    RecordProgress(client, fetched.events);
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    ByteSink sink(buffer);
    try {
        client.Get(address, sink);
    } catch (const TransferError &error) {
        fetched.error = error.Message();
        fetched.statusCode = error.StatusCode();
    }
    fetched.body = buffer.data();
    fetched.sinkSize = buffer.size();
    return fetched;
}

inline Fetched Fetch(const QString &address)
{
    HttpClient client;
    return Fetch(client, address);
}

// The message of what a Get of address raises, the wait hook's error included, or nothing when
// it ends without raising.
inline std::optional<QString> RaisedByGet(const QString &address)
{
    try {
        const Fetched fetched = Fetch(address);
        return fetched.error.isEmpty() ? std::nullopt : std::optional<QString>(fetched.error);
    } catch (const Failure &failure) {
        return failure.Message();
    }
}
