#include "entry_pool.h"

#include <QScopeGuard>

int TEntryPool::WorkersFor(int Threads)
{
    if (Threads <= 0)
        Threads = QThread::idealThreadCount();
    // One thread writes on the reader's own thread.
    return Threads <= 1 ? 0 : qMin(Threads, MaxWorkers);
}

TEntryPool::TEntryPool(const TZipFile &Zip, const QString &ArchiveHandlePath, int Workers,
                       TExtractControl *Control)
    : FInlineWriter(Zip, ArchiveHandlePath, Control), FZip(Zip), FArchiveHandlePath(ArchiveHandlePath),
      FControl(Control)
{
    // Each queued job holds an open file; a short queue is enough to keep the workers fed.
    FQueueLimit = size_t(qMax(1, 2 * Workers));
    for (int Writer = 0; Writer < qMin(Workers, FullWriters); ++Writer)
        FIdleFullWriters.push_back(std::make_unique<TEntryWriter>(Zip, ArchiveHandlePath, Control));
    for (int Worker = 0; Worker < Workers; ++Worker) {
        FWorkers.emplace_back(QThread::create([this] { Work(); }));
        FWorkers.back()->start();
    }
}

TEntryPool::~TEntryPool()
{
    Join();
}

bool TEntryPool::Stopped() const
{
    return FFailure || (FControl && FControl->Stop.load());
}

bool TEntryPool::WaitToGo(int Index, int &Settled)
{
    std::unique_lock Lock(FLock);
    FChanged.wait(
        Lock, [&] { return Stopped() || FUnfinished.empty() || Index - *FUnfinished.begin() < MaxRunAhead; });
    Settled = FUnfinished.empty() ? Index : *FUnfinished.begin();
    return !Stopped();
}

bool TEntryPool::WaitForRoom(const QString &FullPath)
{
    std::unique_lock Lock(FLock);
    FChanged.wait(
        Lock, [&] { return Stopped() || (FQueue.size() < FQueueLimit && !FBusyPaths.contains(FullPath)); });
    return !Stopped();
}

void TEntryPool::Submit(TEntryJob Job)
{
    if (FWorkers.empty()) {
        const int Index = Job.Index;
        try {
            FInlineWriter.Write(Job);
        } catch (...) {
            Record(Index, std::current_exception());
        }
        return;
    }
    std::lock_guard Lock(FLock);
    ++FBusyPaths[Job.FullPath];
    FUnfinished.insert(Job.Index);
    FQueue.push_back(std::move(Job));
    FChanged.notify_all();
}

void TEntryPool::Fail(int Index, std::exception_ptr Error)
{
    Record(Index, std::move(Error));
}

void TEntryPool::Record(int Index, std::exception_ptr Error)
{
    std::lock_guard Lock(FLock);
    if (!FFailure || Index < FFailedIndex) {
        FFailure = std::move(Error);
        FFailedIndex = Index;
    }
    FChanged.notify_all();
}

void TEntryPool::Work()
{
    TEntryWriter Writer(FZip, FArchiveHandlePath, FControl, WorkerBufferSize);
    std::unique_lock Lock(FLock);
    for (;;) {
        FChanged.wait(Lock, [this] { return FClosing || !FQueue.empty(); });
        if (FQueue.empty())
            return;
        TEntryJob Job = std::move(FQueue.front());
        FQueue.pop_front();
        FChanged.notify_all();
        // Entries before a failure still run: one of them may fail first in directory order.
        const bool AfterFailure = FFailure && FFailedIndex < Job.Index;
        Lock.unlock();
        std::exception_ptr Error;
        try {
            if (!AfterFailure && !Writer.Write(Job)) // a stop throws here
                WriteWithFullWriter(Job);
        } catch (...) {
            Error = std::current_exception();
        }
        const QString Path = Job.FullPath;
        const int Index = Job.Index;
        Job = TEntryJob(); // closes the file outside the lock
        if (Error)
            Record(Index, Error);
        Lock.lock();
        if (--FBusyPaths[Path] == 0)
            FBusyPaths.remove(Path);
        FUnfinished.erase(Index);
        FChanged.notify_all();
    }
}

void TEntryPool::WriteWithFullWriter(TEntryJob &Job)
{
    std::unique_ptr<TEntryWriter> Writer;
    {
        std::unique_lock Lock(FLock);
        FChanged.wait(Lock, [this] { return !FIdleFullWriters.empty(); });
        Writer = std::move(FIdleFullWriters.back());
        FIdleFullWriters.pop_back();
    }
    const auto GiveBack = qScopeGuard([this, &Writer] {
        std::lock_guard Lock(FLock);
        FIdleFullWriters.push_back(std::move(Writer));
        FChanged.notify_all();
    });
    Writer->Write(Job);
}

void TEntryPool::Join()
{
    {
        std::lock_guard Lock(FLock);
        FClosing = true;
        FChanged.notify_all();
    }
    for (const std::unique_ptr<QThread> &Worker : FWorkers)
        Worker->wait();
    FWorkers.clear();
}

void TEntryPool::Rethrow() const
{
    if (FFailure)
        std::rethrow_exception(FFailure);
    if (FControl && FControl->Stop.load())
        ThrowExtractionStopped();
}
