#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <optional>

// A reply's status line and header lines (with any chunked trailer appended), and the
// fields the client takes from them.
struct ReplyHead {
    QString statusLine;
    QStringList lines;

    // -1 when the status line holds no number where the code belongs.
    int StatusCode() const;
    // The first line with the name (any case), continuation lines joined; empty if absent.
    QString Header(QStringView name) const;
    // Header, with the bytes that were no UTF-8 kept as LineText keeps them.
    QString HeaderAsSent(QStringView name) const;
    QStringList Headers(QStringView name) const;
    // None when absent, not a number or negative.
    std::optional<qint64> ContentLength() const;
    bool Chunked() const;
    // "Content-Type" without parameters, lower-cased.
    QString MediaType() const;
    QString Boundary() const;
};

// A received line as text: bytes up to 0x7F as themselves. Other bytes are read as UTF-8
// when the line is well-formed UTF-8, so a Location naming a file in Chinese keeps its
// name; in any other line each of them becomes U+FFFD, or with keepRawBytes the lone
// surrogate U+DC00 + byte, so that an address in it (a Location naming a file in GBK) can
// go out again with its own bytes.
QString LineText(QByteArrayView bytes, bool keepRawBytes = false);

// Every lone surrogate that LineText kept for a raw byte as U+FFFD.
QString WithoutRawBytes(QString text);
