#include "transfer_error.h"

TransferError::TransferError(QString message, int statusCode)
    : Failure(statusCode != 0 ? QStringLiteral("EIdHTTPProtocolException") : QStringLiteral("EIdException"),
              std::move(message)),
      statusCode_(statusCode)
{
}

ConnectionClosedGracefully::ConnectionClosedGracefully()
    : TransferError(QStringLiteral("Connection Closed Gracefully."))
{
}
