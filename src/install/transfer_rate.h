#pragma once

#include <QString>
#include <QtGlobal>
#include <deque>
#include <optional>

// The speed and time left of a download of known length, from the bytes done over the
// last few seconds, for a label that changes at most four times a second.
class TransferRate {
public:
    static constexpr qint64 WindowMs = 3000;
    static constexpr qint64 UpdateEveryMs = 250;
    // Below this much of a window the speed says little yet.
    static constexpr qint64 FirstShowMs = 500;

    // A body of `total` bytes. Its first progress is the base the speed is measured from,
    // so a resumed download's bytes already there do not count as speed.
    void Start(qint64 total);
    // The label's text when it is due for a change, else nothing.
    std::optional<QString> Update(qint64 done, qint64 nowMs);

private:
    struct Sample {
        qint64 ms;
        qint64 done;
    };
    std::deque<Sample> samples_;
    qint64 total_ = 0;
    qint64 shownMs_ = 0;
};

// "2.4 MB/s · 剩余 0:38": the speed in units of 1024 as ReadableSize writes sizes, and the
// time left as m:ss (h:mm:ss from an hour on).
QString RateText(double bytesPerSecond, qint64 remainingBytes);
