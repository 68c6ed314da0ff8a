#pragma once

#include "failure.h"
#include "network_wait.h"

#include <QElapsedTimer>
#include <algorithm>

// The wait hook for one test: records the longest time between its calls, and raises once told
// to, as a closed window does.
class RecordingHook {
public:
    RecordingHook()
    {
        clock_.start();
        SetThreadWaitHook([this] {
            const qint64 now = clock_.elapsed();
            longestGap_ = std::max(longestGap_, now - last_);
            last_ = now;
            ++calls_;
            if (cancelAfterMs_ >= 0 && now >= cancelAfterMs_)
                throw Failure("EAbort", QStringLiteral("Operation aborted"));
        });
    }
    ~RecordingHook() { SetThreadWaitHook({}); }

    void CancelAfter(qint64 ms) { cancelAfterMs_ = ms; }
    int Calls() const { return calls_; }
    qint64 LongestGap() const { return longestGap_; }
    qint64 Elapsed() const { return clock_.elapsed(); }

private:
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 longestGap_ = 0;
    qint64 cancelAfterMs_ = -1;
    int calls_ = 0;
};

// Margins for a loaded two-core machine: a slice is 40 ms.
constexpr qint64 LongestAllowedGapMs = 150;
