#pragma once

#include "failure.h"

// The one error kind HttpClient::Get raises of its own. A reply whose status is not a
// success carries that status code; every other failure carries 0.
class TransferError : public Failure {
public:
    explicit TransferError(QString message, int statusCode = 0);

    int StatusCode() const { return statusCode_; }

private:
    int statusCode_;
};

// The connection ended where more bytes of a reply were due.
class ConnectionClosedGracefully : public TransferError {
public:
    ConnectionClosedGracefully();
};
