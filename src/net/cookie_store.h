#pragma once

#include "address.h"

#include <QDateTime>
#include <QString>
#include <vector>

// The cookies one client keeps (RFC 6265): taken from every Set-Cookie value a reply
// carries and sent back on the client's later requests. It lives as long as the client.
class CookieStore {
public:
    // One Set-Cookie value that arrived on a reply for the given address.
    void Take(const QString &setCookie, const Address &address, const QDateTime &now);

    // The "Cookie" header value for a request to the address; empty when no cookie applies.
    QString HeaderFor(const Address &address, const QDateTime &now);

private:
    struct Cookie {
        QString name;
        QString value;
        QString domain;
        QString path;
        bool hostOnly = true;
        bool secure = false;
        bool httpOnly = false;
        QDateTime expiry;
        // Creation order; a replacement keeps the place of the cookie it replaces. (The
        // clock cannot order cookies set within one of its ticks.)
        quint64 sequence = 0;
    };

    std::vector<Cookie> cookies_;
    quint64 created_ = 0;
};

// RFC 6265 cookie-date; an invalid QDateTime when the text is not a date.
QDateTime ParseCookieDate(const QString &text);
