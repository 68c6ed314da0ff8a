#pragma once

#include "entry_writer.h"

#include <QHash>
#include <QThread>

#include <condition_variable>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

// Writes file entries on worker threads while the reader goes on in directory order. The
// reader keeps the order-dependent work (names, folders, creating files); the pool keeps two
// entries of one path from being written at once, and reports the failure that a run in
// directory order would have met first. Without workers, entries are written as submitted.
// Each worker writes what fits a small buffer of its own (most files of most archives) and
// borrows one of a few full writers for larger entries, so that the memory held stays bounded
// whatever the number of workers.
//
// A few of the largest entries may be started before their turn, into files without a name
// that the reader names in their turn: an archive whose largest entry comes last would
// otherwise end with one worker decoding it while the others wait.
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

    // How many entries may be started before their turn: none without workers or after a
    // failure or stop, and one full writer always stays for the entries in turn.
    int EarlySlots();
    // Starts writing Job, whose Output is a file without a name, ahead of the reader.
    void StartEarly(TEntryJob Job);
    // The file of entry Index if it was started early, else null; it stays open until
    // AdoptEarly or DropEarly.
    const TOutputFile *EarlyFile(int Index);
    // Entry Index's early file was named in its turn: from here it is waited for, and its
    // failure counted, as if it had been submitted then.
    void AdoptEarly(int Index);
    // Entry Index's early file could not be named; what it holds is not wanted.
    void DropEarly(int Index);
    // The reader's own failure at entry Index.
    void Fail(int Index, std::exception_ptr Error);
    // Waits for every queued entry.
    void Join();
    // The entry of the first failure in directory order, or -1.
    int FailedIndex() const { return FFailedIndex; }
    // After Join: throws that failure, or the stop when one was asked for.
    void Rethrow() const;

    // One per core is asked for with Threads <= 0; more than this are not used.
    static constexpr int MaxWorkers = 8;
    // A worker's own buffer holds 256 KiB; a full writer about 2.3 MiB (its buffer and the
    // Inflater's input). With the 21.5 MiB that the process, the directory and the names may
    // take, 8 workers and 3 full writers keep any extraction under 32 MiB.
    static constexpr qint64 WorkerBufferSize = 256 << 10;
    static constexpr int FullWriters = 3;
    // How far the reader may run ahead of the oldest unwritten entry; it bounds what is noted
    // for undoing.
    static constexpr int MaxRunAhead = 1024;
    // Entries from this size on are worth starting early.
    static constexpr qint64 EarlyStartSize = 8 << 20;
    static int WorkersFor(int Threads);

private:
    struct TEarlyEntry {
        enum TState { Waiting, Running, Done };
        TEntryJob Job;
        TState State = Waiting;
        bool Adopted = false;
        bool Dropped = false;
        std::exception_ptr Error; // once Done
        std::atomic<bool> Unwanted{false};
    };

    void Work();
    // Writes Job, falling back to a full writer; its failure, or null.
    std::exception_ptr WriteJob(TEntryWriter &Writer, const TEntryJob &Job);
    // Writes the entry with a full writer, waiting for one to be free.
    void WriteWithFullWriter(const TEntryJob &Job);
    // With the lock held: entry Index is written, or failed with Error.
    void Finish(int Index, const QString &FullPath, std::exception_ptr Error);
    void RunEarly(std::map<int, TEarlyEntry>::iterator Early, TEntryWriter &Writer,
                  std::unique_lock<std::mutex> &Lock);
    // An early entry a worker may start, or FEarly.end().
    std::map<int, TEarlyEntry>::iterator NextEarly();
    // Early entries not yet named will not be: a failure or the end came first.
    void GiveUpUnnamedEarly();
    void Record(int Index, std::exception_ptr Error);
    void RecordLocked(int Index, std::exception_ptr Error);
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
    std::map<int, TEarlyEntry> FEarly;
    size_t FQueueLimit = 1;
    bool FClosing = false;
    int FFailedIndex = -1;
    std::exception_ptr FFailure;
    std::vector<std::unique_ptr<TEntryWriter>> FIdleFullWriters; // those not lent to a worker
    // Qt's threads, not the standard library's: on Windows, Qt cleans up after a thread it did
    // not start (and that used a QFile) later, on a thread of its own, which can still be at
    // it when the program ends and then brings it down.
    std::vector<std::unique_ptr<QThread>> FWorkers;
};
