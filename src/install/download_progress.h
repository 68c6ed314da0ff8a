#pragma once

#include "http_client.h"
#include "network_wait.h"

#include <QElapsedTimer>
#include <optional>

class TForm2;

// Passes the download's progress on to the window's handlers at most once a slice. What was
// held back shows when the transfer waits on the network and when it ends, so that the window
// never lags behind a stalled download and always ends showing all of it. The bar draws itself
// at once on every change it can show: drawing it, and pumping, for every 32 KiB received took
// a third of a fast download's time.
class DownloadProgress {
public:
    // Stands in front of the thread's wait hook for as long as it lives.
    DownloadProgress(TForm2 &form, int sliceMs);
    ~DownloadProgress();
    DownloadProgress(const DownloadProgress &) = delete;
    DownloadProgress &operator=(const DownloadProgress &) = delete;

    void Begin(HttpClient &sender, TWorkMode mode, qint64 total);
    void Work(HttpClient &sender, TWorkMode mode, qint64 done);
    // Every transfer's progress ends here, also when it fails, so nothing is held after it.
    void End();

private:
    struct Held {
        HttpClient *sender;
        TWorkMode mode;
        qint64 done;
    };

    void ShowHeld();
    void WhileWaiting();

    TForm2 &form_;
    const int sliceMs_;
    WaitHook outerHook_;
    QElapsedTimer shown_;
    std::optional<Held> held_;
};
