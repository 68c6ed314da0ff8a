#pragma once

#include <QString>
#include <QtGlobal>

// An address held as parts. The client keeps one as its current address; every request
// address (the one given to Get, or a redirect's Location) is parsed and merged into it.
struct Address {
    QString scheme;
    QString user;
    QString password;
    QString host;
    QString port;
    QString path;
    QString document;
    QString query;
    QString fragment;
    bool ipv6 = false; // the host was written as a bracketed literal
};

struct ConnectionTarget {
    QString host; // as written in the address; not yet converted to its ASCII form
    quint16 port = 0;
    bool tls = false;
    bool ipv6 = false;
};

Address ParseAddress(const QString &text);

// Raises TransferError "Unknown Protocol" when neither address yields a port.
Address MergeAddress(const Address &current, const Address &parsed);

// Path + document + "?query", percent-encoded where a request line needs it: controls,
// blank, DEL and everything above U+007F (as UTF-8 bytes, or as the raw byte LineText kept)
// become %XX; a '%' goes out as written. The fragment is never part of it.
QString RequestTarget(const Address &address);

// The "Host" header value: the host in its ASCII (IDNA) form, bracketed when IPv6, with
// ":port" (the number connected to) unless the port is the scheme's default. Raises TransferError for a host
// that cannot be written into a header line or looked up.
QString HostValue(const Address &address);

ConnectionTarget TargetOf(const Address &address);

// The host as it goes to name lookup and into the Host header: IDNA form for international
// names. Raises TransferError (host not found) for a host holding controls or blanks.
QString AsciiHost(const QString &host);

bool IsScheme(const QString &scheme, QStringView wanted);
