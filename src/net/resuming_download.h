#pragma once

#include "http_client.h"

#include <QList>
#include <functional>

// A download that survives a dropped connection: a Get that fails on the way to the server
// (a close, a reset, a time-out, a cut-short body) or with a status that says "later"
// (408, 429, 500, 502, 503, 504) is tried again after a wait. When the reply that began
// the bytes already written offered byte ranges ("Accept-Ranges: bytes") and named a
// validator (a strong ETag, else Last-Modified), a new try asks only for the rest
// ("Range: bytes=N-" with "If-Range") and appends a 206 that starts at N; any other reply
// starts the body over. So the sink always holds a prefix of the final body.
class ResumingDownload {
public:
    int Retries = 0; // tries after the first
    // The waits before each retry; the last one repeats.
    QList<int> RetryWaitsMs = {1000, 2000, 4000, 8000, 8000};
    bool HandleRedirects = true;

    // As HttpClient's, but counted over the whole body: a resumed try reports the bytes
    // already written as done and the whole length as its maximum.
    std::function<void(HttpClient &sender, TWorkMode mode, qint64 workCountMax)> OnWorkBegin;
    std::function<void(HttpClient &sender, TWorkMode mode, qint64 workCount)> OnWork;
    std::function<void(HttpClient &sender, TWorkMode mode)> OnWorkEnd;
    std::function<void(HttpClient &sender, const QByteArray &head)> OnRequestHead;
    // Before the wait for retry number `retry` (from 1), with the failure that caused it.
    std::function<void(int retry, const QString &reason, int waitMs)> OnRetry;

    // Writes the body into the sink from its current position. Raises the last try's
    // failure, or at once a failure that no retry can mend.
    void Get(const QString &address, ByteSink &sink);
};

// Whether a failed try may succeed when repeated.
bool WorthRetrying(const TransferError &error);
