#include "transfer_rate.h"

#include "progress_math.h"

#include <cmath>

void TransferRate::Start(qint64 total)
{
    samples_.clear();
    total_ = total;
}

std::optional<QString> TransferRate::Update(qint64 done, qint64 nowMs)
{
    if (total_ <= 0)
        return std::nullopt;
    if (samples_.empty())
        shownMs_ = nowMs - UpdateEveryMs;
    samples_.push_back({nowMs, done});
    while (samples_.size() > 2 && nowMs - samples_[1].ms >= WindowMs)
        samples_.pop_front();
    const Sample &oldest = samples_.front();
    const qint64 spanMs = nowMs - oldest.ms;
    if (spanMs < FirstShowMs || nowMs - shownMs_ < UpdateEveryMs)
        return std::nullopt;
    shownMs_ = nowMs;
    const double speed = static_cast<double>(done - oldest.done) * 1000.0 / static_cast<double>(spanMs);
    return RateText(speed, std::max<qint64>(total_ - done, 0));
}

namespace {

// m:ss, or h:mm:ss from an hour on.
QString Clock(qint64 seconds)
{
    const auto twoDigits = [](qint64 value) { return QStringLiteral("%1").arg(value, 2, 10, QChar(u'0')); };
    const qint64 hours = seconds / 3600;
    const QString rest = twoDigits(seconds % 60);
    if (hours == 0)
        return QString::number(seconds / 60) + u':' + rest;
    return QString::number(hours) + u':' + twoDigits(seconds / 60 % 60) + u':' + rest;
}

} // namespace

QString RateText(double bytesPerSecond, qint64 remainingBytes)
{
    const QString speed =
        ReadableSize(static_cast<qint64>(std::llround(std::max(bytesPerSecond, 0.0)))) + QStringLiteral("/s");
    if (bytesPerSecond < 1.0)
        return speed;
    const double seconds = std::ceil(static_cast<double>(remainingBytes) / bytesPerSecond);
    return speed + QStringLiteral(" · 剩余 ") + Clock(static_cast<qint64>(std::min(seconds, 1e9)));
}
