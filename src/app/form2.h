#pragma once

#include "package_settings.h"
#include "run_log.h"
#include "transfer_rate.h"

#include <QImage>
#include <QLabel>
#include <QWidget>

class QComboBox;
class QFrame;
class QProgressBar;
class QPushButton;
class HttpClient;
enum TWorkMode : int;

// The main window's per-run values, all empty or zero at start.
struct SessionState {
    QString ServiceNumber;
    QString DownloadFolder;
    QString NoticeText;
    QString DownloadAddress;
    QString ArchivePath;
    qint64 TotalBytes = 0;
};

// The banner: shows its picture stretched over the whole control, without keeping the
// aspect ratio, and reports clicks.
class TImage : public QLabel {
    Q_OBJECT
public:
    explicit TImage(QWidget *parent);
    const QImage &Picture() const { return picture_; }
    void SetPicture(const QImage &picture);

signals:
    void Click();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QImage picture_;
};

class TForm2 : public QWidget {
    Q_OBJECT
public:
    // Builds every control of the layout, then runs FormCreate.
    TForm2();
    ~TForm2() override;

    static constexpr int ClientWidth = 965;
    static constexpr int ClientHeight = 612;

    // Controls, with their designer names.
    QFrame *Panel1;
    TImage *Image2ad;
    QFrame *Panel3;
    QPushButton *Button1;
    QComboBox *ComboBox1; // every item carries its version id as item data
    QLabel *Label3;
    QFrame *Panel2;
    QLabel *label1;
    QProgressBar *loading;
    QLabel *bfb;
    QLabel *rateLabel; // under the percentage: speed and time left, or a reconnect under way

    PackageSettings Settings;
    SessionState Session;

    // Handlers, named after their events.
    void FormCreate();
    // Run once by the start-up sequence (RunMainWindow), after the window became visible.
    void FormShow();
    void FormClose();
    void Image2adClick();
    void Button1Click();
    void ComboBox1Change();
    void onWorkBegin(HttpClient &sender, TWorkMode workMode, qint64 total);
    void onWork(HttpClient &sender, TWorkMode workMode, qint64 done);
    // Unpacking progress: written of total bytes on the bar and as a percentage.
    void onUnpacked(quint64 written, quint64 total);

    // Install flow bookkeeping: a run under way, and a close that must cancel it.
    bool installing = false;
    bool closedDuringInstall = false;
    // The user closed the window: from then on every network wait ends its transfer.
    bool closed = false;

    RunLog runLog;
    TransferRate transferRate;

protected:
    // A close by the user runs FormClose and ends the program; the window stays on screen
    // until then. A close while an install runs sets closedDuringInstall for the flow.
    void closeEvent(QCloseEvent *event) override;
};
