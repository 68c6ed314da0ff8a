#pragma once

// The end of the program: RequestQuit (shell.h) sets a flag and posts a quit signal that is
// taken after every other pending event. Whoever takes it, the event loop or a pump, marks
// the run as ended and stops the event loop.

// A new run starts with no quit requested and no quit signal pending.
void ResetQuit();
// Whether the quit signal has been taken (possibly before the event loop ran).
bool QuitTaken();
void PostQuitSignal();
