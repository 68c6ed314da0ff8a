#pragma once

#include <QDeadlineTimer>
#include <QHostAddress>

// Opens a TCP connection with the system's sockets, waiting in slices (network_wait.h), and
// gives its descriptor. Qt's own connect can only be waited for whole, or in an event loop
// that may take the first notifications of the new connection (a reset among them) away
// from the reads that follow. Raises TransferError: refused, unreachable, timed out.
qintptr ConnectSocket(const QHostAddress &address, quint16 port, QDeadlineTimer deadline);

// Closes a descriptor ConnectSocket gave that was not taken over.
void CloseSocket(qintptr descriptor);
