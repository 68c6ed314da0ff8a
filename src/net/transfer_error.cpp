#include "transfer_error.h"

#include "proxy_rules.h"

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

ProxyAuthenticationRequired::ProxyAuthenticationRequired(const ProxyServer &proxy)
    : TransferError(QStringLiteral("Proxy authentication required by %1").arg(proxy.Name()), 407)
{
}

ConnectionClosedGracefully::ConnectionClosedGracefully()
    : TransferError(Network(QStringLiteral("Connection Closed Gracefully.")))
{
}
