#include "network_wait.h"

#include <QElapsedTimer>
#include <QThread>
#include <algorithm>

namespace {

struct ThreadWait {
    WaitHook hook;
    QElapsedTimer sinceCall;
};

ThreadWait &Current()
{
    thread_local ThreadWait wait;
    return wait;
}

} // namespace

WaitHook SetThreadWaitHook(WaitHook hook)
{
    ThreadWait &wait = Current();
    std::swap(wait.hook, hook);
    wait.sinceCall.start();
    return hook;
}

void CallWaitHook()
{
    ThreadWait &wait = Current();
    if (!wait.hook)
        return;
    wait.sinceCall.start();
    wait.hook();
}

void PaceWait()
{
    const ThreadWait &wait = Current();
    if (wait.hook && (!wait.sinceCall.isValid() || wait.sinceCall.elapsed() >= WaitSliceMs))
        CallWaitHook();
}

int SliceOf(const QDeadlineTimer &deadline, int sliceMs)
{
    if (deadline.isForever())
        return sliceMs;
    return static_cast<int>(std::clamp<qint64>(deadline.remainingTime(), 0, sliceMs));
}

void SleepInSlices(QDeadlineTimer deadline)
{
    while (!deadline.hasExpired()) {
        QThread::msleep(static_cast<unsigned long>(SliceOf(deadline)));
        CallWaitHook();
    }
}
