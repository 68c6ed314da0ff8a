#pragma once

#include <QDeadlineTimer>
#include <functional>

// Every wait of a transfer (name lookup, connect, TLS handshake, send, receive, the pause
// before a retry) runs in short slices. Between slices the client calls the wait hook of
// the thread it runs on, so a window thread can repaint, take input and cancel: a hook
// that raises ends the transfer with its error.
using WaitHook = std::function<void()>;

constexpr int WaitSliceMs = 40;

// Sets the hook for transfers run on the calling thread (an empty one: none). Returns the
// hook it replaces.
WaitHook SetThreadWaitHook(WaitHook hook);

// Calls the thread's hook when a slice has passed since its last call, so a transfer that
// never waits still gives the window its turn.
void PaceWait();
// Calls the thread's hook now (after a slice spent waiting).
void CallWaitHook();

// Waits until the deadline in slices, calling the hook between them.
void SleepInSlices(QDeadlineTimer deadline);

// The time left to the deadline, capped to one slice of sliceMs; never negative.
int SliceOf(const QDeadlineTimer &deadline, int sliceMs = WaitSliceMs);
