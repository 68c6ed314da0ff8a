#pragma once

#include <QtGlobal>

// The loopback sockets the test servers are written with: the system's own calls, so the
// servers can drop, reset and trickle exactly as scripted. One file per platform.
namespace TestSocket {

using Handle = qintptr;
constexpr Handle None = -1;

// A socket listening on 127.0.0.1 at a free port, which is stored in port; None on failure.
Handle Listen(quint16 &port);
// The next connection waiting on a listener; None on failure.
Handle Accept(Handle listener);
// Waits until something (data, a connection, the end) can be read: false on time-out.
bool WaitReadable(Handle socket, int timeoutMs);
// Bytes read: 0 at the end, negative on an error.
qint64 Receive(Handle socket, char *buffer, qint64 size);
// Sends every byte; false once the peer has gone. A peer that went away raises no signal.
bool SendAll(Handle socket, const char *data, qint64 size);
void ShutdownSending(Handle socket);
// Closes so that the peer sees a reset rather than an orderly end.
void Reset(Handle socket);
void Close(Handle socket);

// True when the Windows program runs under Wine, whose sockets differ from Windows' in places.
bool UnderWine();

} // namespace TestSocket
