// The download and unpacking progress display: percentage in bfb, the bar in units of 100
// bytes.
#include "failure.h"
#include "form2.h"
#include "http_client.h"
#include "progress_math.h"
#include "shell.h"

#include <QProgressBar>
#include <chrono>

namespace {

// A close of the window stops the download at its next progress event.
void StopIfClosed(const TForm2 &form)
{
    if (form.closedDuringInstall)
        throw Failure("EAbort", QStringLiteral("Operation aborted"));
}

qint64 NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

void TForm2::onWorkBegin(HttpClient &, TWorkMode, qint64 total)
{
    // An unknown length (0) gives the range 0..0, which the bar shows as busy.
    loading->setMinimum(0);
    loading->setMaximum(BarUnits(total));
    Session.TotalBytes = total;
    transferRate.Start(total);
    rateLabel->clear();
    PumpEvents();
    StopIfClosed(*this);
}

void TForm2::onWork(HttpClient &, TWorkMode, qint64 done)
{
    if (Session.TotalBytes == 0) {
        bfb->setText(ReadableSize(done));
    } else {
        bfb->setText(QString::number(WholePercent(done, Session.TotalBytes)) + u'%');
        // The bar ignores values outside its range; it is meant to show them at its ends.
        loading->setValue(qBound(loading->minimum(), BarUnits(done), loading->maximum()));
        if (const std::optional<QString> rate = transferRate.Update(done, NowMs()))
            rateLabel->setText(*rate);
    }
    PumpEvents();
    StopIfClosed(*this);
}

void TForm2::onUnpacked(quint64 written, quint64 total)
{
    if (total == 0)
        return; // nothing to write: the bar stays as the download left it
    const qint64 done = static_cast<qint64>(qMin(written, total));
    loading->setMinimum(0);
    loading->setMaximum(BarUnits(static_cast<qint64>(total)));
    loading->setValue(qBound(loading->minimum(), BarUnits(done), loading->maximum()));
    bfb->setText(QString::number(WholePercent(done, static_cast<qint64>(total))) + u'%');
}
