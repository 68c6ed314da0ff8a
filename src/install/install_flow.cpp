// The install button: from the chosen version to the started setup program.
#include "archive_trust.h"
#include "disk_space.h"
#include "download_progress.h"
#include "failure.h"
#include "form2.h"
#include "network_wait.h"
#include "path_rules.h"
#include "resuming_download.h"
#include "service_replies.h"
#include "setup_launcher.h"
#include "shell.h"
#include "text_fetcher.h"
#include "zip_extract.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QThread>

#include <functional>

namespace {

const QString NoVersionChosen = QStringLiteral("请先选择要安装的软件版本");
const QString BadAddress = QStringLiteral("获取的下载地址不正确，请点击上方图片进入网站联系客服反馈处理");
const QString DownloadFailed =
    QStringLiteral("下载失败！可能网络不通或磁盘空间不够，请点击上方图片进入网站联系客服反馈处理");
const QString ArchiveMissing =
    QStringLiteral("下载成功，软件包找不到，请点击上方图片进入网站联系客服反馈处理");
const QString SetupMissing = QStringLiteral("没有找到安装启动程序，请点击上方图片进入网站联系客服反馈处理；");
const QString Unpacking = QStringLiteral("安装程序获取成功，正在解压，耗时根据您电脑性能，请等待一会哦....");
const QString SetupStarted = QStringLiteral("已经启动安装程序，如长时间没有反应，请加客服QQ ");
const QString Reconnecting = QStringLiteral("网络中断，正在重新连接（第 %1 次）…");

// A dropped connection costs the user a wait, not the install.
constexpr int DownloadRetries = 5;

// How often the window's thread pumps while work runs beside it. A repaint asked for shows at
// the second pump after it, so the window repaints about every 40 ms, and a busy machine that
// wakes the thread late still keeps it well within 100 ms.
constexpr int WatchSliceMs = 20;

// One run of the install button. The run is not re-entrant, and a close of the window while
// it is under way cancels it: the pumps report the close, and the run then leaves no
// download behind and starts nothing.
class InstallRun {
public:
    explicit InstallRun(TForm2 &form) : form_(form) { form_.installing = true; }
    ~InstallRun() { form_.installing = false; }
    InstallRun(const InstallRun &) = delete;
    InstallRun &operator=(const InstallRun &) = delete;

    void Run();

private:
    // PumpEvents; false once the window has been closed, after removing the download.
    bool Pump(int times = 1);
    // Pumps through the pause; false once the window has been closed.
    bool Pause(int ms);
    void Discard();
    bool Download(QFile &temporary);
    // False when the archive is not the publisher's (it is gone then and the program ends) or
    // when the window was closed during the check.
    bool Verify();
    // False when the disk has no room for it (nothing is written and the program ends) or
    // when the window was closed during it (what was unpacked stays, nothing is started).
    bool Unpack(const QString &unpackFolder);
    // Runs work on another thread while this one keeps the window alive and shows how much
    // of total has been written (nothing for a total of 0); a close of the window asks the
    // work to stop.
    void RunWatched(TExtractControl &control, quint64 total, const std::function<void()> &work);

    TForm2 &form_;
    SessionState &session_ = form_.Session;
    QString temporaryPath_;
    StreamedArchiveHash written_; // of the download, with a key to check it against
};

void InstallRun::Run()
{
    if (form_.ComboBox1->currentIndex() < 0) {
        ShowNotice(NoVersionChosen);
        return;
    }
    const QString versionId = form_.ComboBox1->currentData().toString();
    form_.runLog.Note(
        QStringLiteral("install version %1 (%2)").arg(versionId, form_.ComboBox1->currentText()));
    const LookupVerdict verdict = JudgeLookupReply(
        FetchText(DownloadLookupQuery(form_.Settings.VersionListAddress, form_.Settings.PackageId, versionId),
                  CodePage::Gbk));
    if (form_.closedDuringInstall)
        return; // the lookup was cut short by the close: nothing to say
    if (verdict.kind == LookupVerdict::ServiceError) {
        ShowNotice(verdict.text);
        return;
    }
    if (verdict.kind == LookupVerdict::Refused) {
        ShowNotice(BadAddress);
        return;
    }

    session_.DownloadAddress = verdict.text;
    form_.Panel2->show();
    form_.Panel2->raise();
    // Covered from now on; the keyboard must not reach them either.
    form_.Button1->setEnabled(false);
    form_.ComboBox1->setEnabled(false);
    if (!Pump())
        return;

    session_.ArchivePath = session_.DownloadFolder + LastPathSegment(session_.DownloadAddress);
    const QString unpackFolder = session_.DownloadFolder + BaseNameOf(FileNameOf(session_.ArchivePath));
    if (!QFileInfo(unpackFolder).isDir())
        QDir().mkdir(unpackFolder);
    if (!Pump())
        return;

    temporaryPath_ = session_.ArchivePath + QStringLiteral(".tmp");
    QFile::remove(temporaryPath_);
    QFile::remove(session_.ArchivePath);
    QFile temporary(temporaryPath_);
    if (!temporary.open(QIODevice::ReadWrite | QIODevice::Truncate)) {
        throw Failure("EFCreateError",
                      QStringLiteral("Cannot create file \"%1\". %2")
                          .arg(QFileInfo(temporaryPath_).absoluteFilePath(), temporary.errorString()));
    }
    if (!Download(temporary))
        return;
    temporary.close();
    if (!Pump(2))
        return;

    QFile::rename(temporaryPath_, session_.ArchivePath); // never replaces; step below decides
    if (!Pump())
        return;
    if (!QFileInfo(session_.ArchivePath).isFile()) {
        FailAndQuit(ArchiveMissing);
        return;
    }
    if (!Verify())
        return;

    form_.label1->setText(Unpacking);
    if (!Pump() || !Unpack(unpackFolder) || !Pump())
        return;

    const QString setupPath = SetupProgramPath(unpackFolder, form_.Settings.LauncherName);
    if (!QFileInfo(setupPath).isFile()) {
        FailAndQuit(SetupMissing);
        return;
    }
    if (!Pump(4) || !Pause(1000) || !Pump(5))
        return;
    form_.runLog.Note(QStringLiteral("starting the setup program %1").arg(setupPath));
    OpenSetupProgram(setupPath);
    PumpEvents();

    form_.label1->setText(!session_.NoticeText.isEmpty() ? session_.NoticeText
                                                         : SetupStarted + session_.ServiceNumber);
    PumpEvents();
}

// A download that would not fit on the disk; its text is the notice.
class DiskShortage : public Failure {
public:
    explicit DiskShortage(const QString &notice) : Failure(QStringLiteral("EDiskFull"), notice) {}
};

// False when the download failed or the window was closed during it.
bool InstallRun::Download(QFile &temporary)
{
    QElapsedTimer clock;
    clock.start();
    try {
        ResumingDownload download;
        download.Retries = DownloadRetries;
        DownloadProgress progress(form_, WatchSliceMs);
        download.OnWorkBegin = [this, &temporary, &progress](HttpClient &sender, TWorkMode mode, qint64 total) {
            // Checked as soon as the length is known, before the first byte is written; the
            // file system is asked only then.
            if (total > 0) {
                const QString shortage = DiskSpaceShortage(total - temporary.size(), session_.DownloadFolder);
                if (!shortage.isEmpty())
                    throw DiskShortage(shortage);
            }
            progress.Begin(sender, mode, total);
        };
        download.OnWork = [&progress](HttpClient &sender, TWorkMode mode, qint64 done) {
            progress.Work(sender, mode, done);
        };
        download.OnWorkEnd = [&progress](HttpClient &, TWorkMode) { progress.End(); };
        download.OnRetry = [this](int retry, const QString &, int) {
            form_.rateLabel->setText(Reconnecting.arg(retry));
            PumpEvents();
        };
        ByteSink sink(temporary);
        // Hashed as it arrives, so that the signature check after it need not read it again.
        if (!form_.Settings.PublicKey.isEmpty())
            sink.OnWritten = [this](qint64 position, QByteArrayView bytes) { written_.Written(position, bytes); };
        download.Get(session_.DownloadAddress, sink);
    } catch (const std::exception &error) {
        if (form_.closedDuringInstall) {
            form_.runLog.Note(QStringLiteral("download cancelled by closing the window"));
            temporary.close();
            Discard();
            return false;
        }
        const auto *failure = dynamic_cast<const Failure *>(&error);
        form_.runLog.Note(QStringLiteral("download failed: ") +
                          (failure ? failure->Message() : QString::fromLocal8Bit(error.what())));
        if (const auto *shortage = dynamic_cast<const DiskShortage *>(&error)) {
            temporary.close();
            Discard(); // nothing of it was written
            FailAndQuit(shortage->Message());
            return false;
        }
        // Shown while the partial file is still open; it stays on disk.
        FailAndQuit(DownloadFailed);
        temporary.close();
        PumpEvents();
        return false;
    }
    form_.runLog.Note(QStringLiteral("downloaded %1 bytes in %2 s")
                          .arg(temporary.size())
                          .arg(static_cast<double>(clock.elapsed()) / 1000.0, 0, 'f', 1));
    if (form_.closedDuringInstall) { // during the last progress event's pump
        temporary.close();
        Discard();
        return false;
    }
    return true;
}

bool InstallRun::Verify()
{
    // Hashing a large archive takes seconds, so it runs off the window's thread like the
    // unpacking, and a close stops it.
    ArchiveVerdict verdict;
    bool accepted = false;
    TExtractControl control;
    RunWatched(control, 0,
               [this, &accepted, &verdict, &control, archive = session_.ArchivePath, key = form_.Settings.PublicKey] {
                   accepted = AcceptDownloadedArchive(archive, key, verdict, &control.Stop, &written_);
               });
    if (form_.closedDuringInstall) {
        form_.runLog.Note(QStringLiteral("signature check cancelled by closing the window"));
        Discard();
        return false;
    }
    if (!form_.Settings.PublicKey.isEmpty())
        form_.runLog.Note(QStringLiteral("signature: ") + ArchiveVerdictText(verdict));
    if (!accepted)
        FailAndQuit(QString::fromUtf16(TamperedArchiveNotice));
    return accepted;
}

bool InstallRun::Unpack(const QString &unpackFolder)
{
    form_.runLog.Note(QStringLiteral("unpacking into %1").arg(unpackFolder));
    TExtractControl control;
    const auto cancelled = [this] {
        form_.runLog.Note(QStringLiteral("unpacking cancelled by closing the window"));
        Discard();
        return false;
    };
    try {
        quint64 total = 0;
        RunWatched(control, 0,
                   [&total, &control, archive = session_.ArchivePath] {
                       total = DeclaredUnpackedSize(archive, &control);
                   });
        if (form_.closedDuringInstall)
            return cancelled();
        const QString shortage = DiskSpaceShortage(static_cast<qint64>(total), unpackFolder);
        if (!shortage.isEmpty()) {
            form_.runLog.Note(QStringLiteral("unpacking refused: ") + shortage);
            FailAndQuit(shortage);
            return false;
        }
        form_.rateLabel->clear(); // the download's speed no longer applies
        TExtractOptions options;
        options.Control = &control;
        RunWatched(control, total, [archive = session_.ArchivePath, unpackFolder, options] {
            ExtractZipFile(archive, unpackFolder, 936, options);
        });
    } catch (const Failure &failure) {
        if (form_.closedDuringInstall)
            return cancelled();
        form_.runLog.Note(QStringLiteral("unpacking failed: ") + failure.Message());
        throw;
    }
    if (form_.closedDuringInstall)
        return cancelled();
    form_.runLog.Note(QStringLiteral("unpacked"));
    return true;
}

void InstallRun::RunWatched(TExtractControl &control, quint64 total, const std::function<void()> &work)
{
    // A QThread, for the reason TEntryPool's workers are ones (the work opens QFiles too).
    std::exception_ptr failure;
    const std::unique_ptr<QThread> worker(QThread::create([&work, &failure] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
    }));
    worker->start();
    // However this thread leaves, the work stops before what it uses goes out of scope.
    const auto stopOnLeave = qScopeGuard([&control, &worker] {
        if (!worker->isFinished()) {
            control.Stop = true;
            worker->wait();
        }
    });

    form_.onUnpacked(control.Written.load(), total);
    while (!worker->wait(QDeadlineTimer(WatchSliceMs))) {
        PumpEvents();
        if (form_.closedDuringInstall)
            control.Stop = true;
        form_.onUnpacked(control.Written.load(), total);
    }
    form_.onUnpacked(control.Written.load(), total);
    if (failure)
        std::rethrow_exception(failure); // the work's failure, or the stop a close asked for
}

bool InstallRun::Pump(int times)
{
    for (int i = 0; i < times; ++i)
        PumpEvents();
    if (!form_.closedDuringInstall)
        return true;
    Discard();
    return false;
}

bool InstallRun::Pause(int ms)
{
    const QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired() && !form_.closedDuringInstall) {
        QThread::msleep(static_cast<unsigned long>(SliceOf(deadline, WatchSliceMs)));
        PumpEvents();
    }
    return Pump(0);
}

void InstallRun::Discard()
{
    if (!temporaryPath_.isEmpty())
        QFile::remove(temporaryPath_);
    QFile::remove(session_.ArchivePath); // FormClose ran before the archive was in place
}

} // namespace

void TForm2::Button1Click()
{
    if (installing)
        return; // a press by keyboard while a run is under way
    InstallRun(*this).Run();
}
