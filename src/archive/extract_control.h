#pragma once

#include <QtGlobal>

#include <atomic>

// Shared between an extraction and the thread that watches it: the bytes written so far,
// and a request to stop, honoured at the next entry or copy block.
struct TExtractControl {
    std::atomic<quint64> Written{0};
    std::atomic<bool> Stop{false};
};

struct TExtractOptions {
    // Threads that write entries' data; 0: one per core, at most TEntryPool::MaxWorkers. 1 keeps
    // everything on the caller's thread.
    int Threads = 0;
    TExtractControl *Control = nullptr;
};

// The failure a stop request ends the extraction with.
[[noreturn]] void ThrowExtractionStopped();
