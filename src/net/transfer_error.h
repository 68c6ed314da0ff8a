#pragma once

#include "failure.h"

// The one error kind HttpClient::Get raises of its own. A reply whose status is not a
// success carries that status code; every other failure carries 0.
class TransferError : public Failure {
public:
    explicit TransferError(QString message, int statusCode = 0);

    // A failure of the way to the server (a close, a reset, a time-out, a refused or
    // dropped connection) rather than of the address or of the reply: one that a later
    // try may not meet.
    static TransferError Network(QString message);

    int StatusCode() const { return statusCode_; }
    bool IsNetworkFault() const { return networkFault_; }

private:
    int statusCode_;
    bool networkFault_ = false;
};

struct ProxyServer;

// A proxy wants credentials the client does not have (or refused the ones it had).
class ProxyAuthenticationRequired : public TransferError {
public:
    explicit ProxyAuthenticationRequired(const ProxyServer &proxy);
};

// The connection ended where more bytes of a reply were due.
class ConnectionClosedGracefully : public TransferError {
public:
    ConnectionClosedGracefully();
};
