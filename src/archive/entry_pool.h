#pragma once

#include "entry_writer.h"

#include <QHash>

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

// Writes file entries on worker threads while the reader goes on in directory order. The
// reader keeps the order-dependent work (names, folders, creating files); the pool keeps two
// entries of one path from being written at once, and reports the failure that a run in
// directory order would have met first. Without workers, entries are written as submitted.
class TEntryPool {
public:
    TEntryPool(const TZipFile &Zip, const QString &ArchiveHandlePath, int Workers, TExtractControl *Control);
    ~TEntryPool();
    TEntryPool(const TEntryPool &) = delete;
    TEntryPool &operator=(const TEntryPool &) = delete;

    // Waits until entry Index may be taken: the reader stays within a bounded distance of the
    // oldest entry still being written. False once a failure or a stop means no later entry
    // is to be started. Settled is then the first entry not yet written in full.
    bool WaitToGo(int Index, int &Settled);
    // Waits until a job may be queued for the file at FullPath (room in the queue, no entry of
    // that path still being written); false as WaitToGo.
    bool WaitForRoom(const QString &FullPath);
    void Submit(TEntryJob Job);
    // The reader's own failure at entry Index.
    void Fail(int Index, std::exception_ptr Error);
    // Waits for every queued entry.
    void Join();
    // The entry of the first failure in directory order, or -1.
    int FailedIndex() const { return FFailedIndex; }
    // After Join: throws that failure, or the stop when one was asked for.
    void Rethrow() const;

    static constexpr int MaxWorkers = 8;
    // One per core is asked for with Threads <= 0, and gets at most this many: a worker holds
    // up to 3.3 MiB, and with the 21.5 MiB that the process, the directory and the names may
    // take, three keep any extraction under 32 MiB. More are used only when asked for by number.
    static constexpr int MaxDefaultWorkers = 3;
    // How far the reader may run ahead of the oldest unwritten entry; it bounds what is noted
    // for undoing.
    static constexpr int MaxRunAhead = 1024;
    static int WorkersFor(int Threads);

private:
    void Work();
    void Record(int Index, std::exception_ptr Error);
    bool Stopped() const;

    TEntryWriter FInlineWriter;
    const TZipFile &FZip;
    QString FArchiveHandlePath;
    TExtractControl *FControl;
    std::mutex FLock;
    std::condition_variable FChanged;
    std::deque<TEntryJob> FQueue;
    QHash<QString, int> FBusyPaths; // queued or being written
    std::set<int> FUnfinished;      // entries queued or being written
    size_t FQueueLimit = 1;
    bool FClosing = false;
    int FFailedIndex = -1;
    std::exception_ptr FFailure;
    std::vector<std::thread> FWorkers;
};
