#pragma once

#include <QString>

// Socket failures are reported in Windows Sockets numbering, the way users of this program
// know them: "Socket Error # N" CR LF and the text for N (empty for a number without one).
namespace SocketErrorCode {
constexpr int ConnectionRefused = 10061;
constexpr int ConnectionReset = 10054;
constexpr int TimedOut = 10060;
constexpr int HostNotFound = 11001;
constexpr int NetworkUnreachable = 10051;
constexpr int HostUnreachable = 10065;
} // namespace SocketErrorCode

QString SocketErrorText(int number);
QString SocketErrorMessage(int number);
