#include "transfer_error.h"

TransferError::TransferError(QString message, int statusCode)
    : Failure(statusCode != 0 ? QStringLiteral("EIdHTTPProtocolException") : QStringLiteral("EIdException"),
              std::move(message)),
      statusCode_(statusCode)
{
}

TransferError TransferError::Network(QString message)
{
    TransferError error(std::move(message));
    error.networkFault_ = true;
    return error;
}

ConnectionClosedGracefully::ConnectionClosedGracefully()
    : TransferError(Network(QStringLiteral("Connection Closed Gracefully.")))
{
}
