#include "entry_pool.h"

#include <QScopeGuard>

#include <algorithm>

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
    // Each queued job holds an open file. Eight per worker keep the workers fed and let the
    // reader sleep seldom: with two, it slept and was woken again for nearly every entry.
    FQueueLimit = size_t(qMax(1, 8 * Workers));
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
        if (const std::exception_ptr Error = WriteJob(FInlineWriter, Job))
            Record(Job.Index, Error);
        return;
    }
    std::lock_guard Lock(FLock);
    ++FBusyPaths[Job.FullPath];
    FUnfinished.insert(Job.Index);
    FQueue.push_back(std::move(Job));
    FChanged.notify_all();
}

int TEntryPool::EarlySlots()
{
    std::lock_guard Lock(FLock);
    return FWorkers.empty() || Stopped() ? 0 : qMin(int(FWorkers.size()), FullWriters) - 1;
}

void TEntryPool::StartEarly(TEntryJob Job)
{
    std::lock_guard Lock(FLock);
    TEarlyEntry &Entry = FEarly[Job.Index];
    Entry.Job = std::move(Job);
    Entry.Job.Unwanted = &Entry.Unwanted;
    FChanged.notify_all();
}

const TOutputFile *TEntryPool::EarlyFile(int Index)
{
    std::lock_guard Lock(FLock);
    const auto Early = FEarly.find(Index);
    return Early == FEarly.end() ? nullptr : Early->second.Job.Output.get();
}

void TEntryPool::AdoptEarly(int Index)
{
    std::unique_lock Lock(FLock);
    const auto Early = FEarly.find(Index);
    TEarlyEntry &Entry = Early->second;
    if (Entry.State != TEarlyEntry::Done) {
        Entry.Adopted = true;
        ++FBusyPaths[Entry.Job.FullPath];
        FUnfinished.insert(Index);
        return;
    }
    const std::exception_ptr Error = Entry.Error;
    std::unique_ptr<TOutputFile> Output = std::move(Entry.Job.Output);
    FEarly.erase(Early);
    if (Error)
        RecordLocked(Index, Error);
    Lock.unlock(); // the file closes outside the lock
}

void TEntryPool::DropEarly(int Index)
{
    std::unique_lock Lock(FLock);
    const auto Early = FEarly.find(Index);
    TEarlyEntry &Entry = Early->second;
    Entry.Unwanted = true;
    if (Entry.State == TEarlyEntry::Running) {
        Entry.Dropped = true; // its worker lets it go
        return;
    }
    std::unique_ptr<TOutputFile> Output = std::move(Entry.Job.Output);
    FEarly.erase(Early);
    Lock.unlock(); // the file, and the space it took, go outside the lock
}

void TEntryPool::GiveUpUnnamedEarly()
{
    for (auto &[Index, Entry] : FEarly)
        if (!Entry.Adopted)
            Entry.Unwanted = true;
}

void TEntryPool::Fail(int Index, std::exception_ptr Error)
{
    Record(Index, std::move(Error));
}

void TEntryPool::Record(int Index, std::exception_ptr Error)
{
    std::lock_guard Lock(FLock);
    RecordLocked(Index, std::move(Error));
}

void TEntryPool::RecordLocked(int Index, std::exception_ptr Error)
{
    if (!FFailure || Index < FFailedIndex) {
        FFailure = std::move(Error);
        FFailedIndex = Index;
    }
    // The reader stops, so entries started early and not named yet will not be.
    GiveUpUnnamedEarly();
    FChanged.notify_all();
}

void TEntryPool::Work()
{
    TEntryWriter Writer(FZip, FArchiveHandlePath, FControl, WorkerBufferSize);
    std::unique_lock Lock(FLock);
    for (;;) {
        auto Early = FEarly.end();
        FChanged.wait(Lock, [&] {
            Early = NextEarly();
            return FClosing || !FQueue.empty() || Early != FEarly.end();
        });
        if (Early != FEarly.end()) {
            RunEarly(Early, Writer, Lock);
            continue;
        }
        if (FQueue.empty())
            return;
        TEntryJob Job = std::move(FQueue.front());
        FQueue.pop_front();
        FChanged.notify_all();
        // Entries before a failure still run: one of them may fail first in directory order.
        const bool AfterFailure = FFailure && FFailedIndex < Job.Index;
        Lock.unlock();
        const std::exception_ptr Error = AfterFailure ? nullptr : WriteJob(Writer, Job);
        const QString Path = Job.FullPath;
        const int Index = Job.Index;
        Job = TEntryJob(); // closes the file outside the lock
        Lock.lock();
        Finish(Index, Path, Error);
    }
}

std::map<int, TEntryPool::TEarlyEntry>::iterator TEntryPool::NextEarly()
{
    return std::find_if(FEarly.begin(), FEarly.end(), [](const auto &Early) {
        return Early.second.State == TEarlyEntry::Waiting && !Early.second.Unwanted;
    });
}

void TEntryPool::RunEarly(std::map<int, TEarlyEntry>::iterator Early, TEntryWriter &Writer,
                          std::unique_lock<std::mutex> &Lock)
{
    const int Index = Early->first;
    TEarlyEntry &Entry = Early->second;
    Entry.State = TEarlyEntry::Running;
    Lock.unlock();
    const std::exception_ptr Error = WriteJob(Writer, Entry.Job);
    Lock.lock();
    Entry.State = TEarlyEntry::Done;
    Entry.Error = Error;
    // Not named yet: the reader may still name it in its turn, so the file stays open.
    if (!Entry.Adopted && !Entry.Dropped)
        return;
    const bool Adopted = Entry.Adopted;
    const QString Path = Entry.Job.FullPath;
    std::unique_ptr<TOutputFile> Output = std::move(Entry.Job.Output);
    FEarly.erase(Early);
    Lock.unlock();
    Output.reset();
    Lock.lock();
    if (Adopted)
        Finish(Index, Path, Error);
}

std::exception_ptr TEntryPool::WriteJob(TEntryWriter &Writer, const TEntryJob &Job)
{
    try {
        if (!Writer.Write(Job)) // a stop throws here
            WriteWithFullWriter(Job);
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

void TEntryPool::Finish(int Index, const QString &FullPath, std::exception_ptr Error)
{
    if (Error)
        RecordLocked(Index, std::move(Error));
    if (--FBusyPaths[FullPath] == 0)
        FBusyPaths.remove(FullPath);
    FUnfinished.erase(Index);
    FChanged.notify_all();
}

void TEntryPool::WriteWithFullWriter(const TEntryJob &Job)
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
        GiveUpUnnamedEarly();
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
