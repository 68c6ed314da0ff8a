#include "download_progress.h"

#include "form2.h"

#include <utility>

DownloadProgress::DownloadProgress(TForm2 &form, int sliceMs)
    : form_(form), sliceMs_(sliceMs), outerHook_(SetThreadWaitHook([this] { WhileWaiting(); }))
{
}

DownloadProgress::~DownloadProgress()
{
    SetThreadWaitHook(std::move(outerHook_));
}

void DownloadProgress::Begin(HttpClient &sender, TWorkMode mode, qint64 total)
{
    held_.reset();
    shown_.invalidate();
    form_.onWorkBegin(sender, mode, total);
}

void DownloadProgress::Work(HttpClient &sender, TWorkMode mode, qint64 done)
{
    if (shown_.isValid() && !shown_.hasExpired(sliceMs_)) {
        held_ = Held{&sender, mode, done};
        return;
    }
    held_.reset();
    shown_.start();
    form_.onWork(sender, mode, done);
}

void DownloadProgress::End()
{
    ShowHeld();
}

void DownloadProgress::ShowHeld()
{
    if (const std::optional<Held> held = std::exchange(held_, std::nullopt)) {
        shown_.start();
        form_.onWork(*held->sender, held->mode, held->done);
    }
}

void DownloadProgress::WhileWaiting()
{
    ShowHeld();
    if (outerHook_)
        outerHook_();
}
