// The window's opening load: banner, notice, download folder and version list.
#include "banner_picture.h"
#include "form2.h"
#include "service_replies.h"
#include "shell.h"
#include "text.h"
#include "text_fetcher.h"

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QScopeGuard>
#include <QUrl>

namespace {

// Any failure keeps the banner it had.
void LoadBanner(TImage &banner, const QString &address)
{
    try {
        banner.SetPicture(LoadBannerPicture(FetchBytes(address), banner.Picture()));
    } catch (const std::exception &) {
    }
}

} // namespace

void TForm2::FormShow()
{
    // Draw the window first so it is never blank while the services answer.
    repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);

    // Every network wait below pumps the window's events, so the window stays alive and can
    // be closed; meanwhile it shows that it is busy and keeps the version choice back.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    Button1->setEnabled(false);
    ComboBox1->setEnabled(false);
    const auto loaded = qScopeGuard([this] {
        QApplication::restoreOverrideCursor();
        Button1->setEnabled(true);
        ComboBox1->setEnabled(true);
    });

    LoadBanner(*Image2ad, Settings.BannerAddress);
    if (closed)
        return;

    Session.NoticeText = KeptNotice(FetchText(Settings.NoticeAddress, CodePage::Utf8));
    if (closed)
        return;

    Session.DownloadFolder = ProgramFolder() + QStringLiteral("download/");
    if (!QFileInfo(Session.DownloadFolder).isDir())
        QDir().mkdir(Session.DownloadFolder);
    runLog.Open(Session.DownloadFolder);

    const VersionList versions = ParseVersionList(
        FetchText(VersionListQuery(Settings.VersionListAddress, Settings.PackageId), CodePage::Gbk));
    ComboBox1->clear();
    for (const VersionEntry &entry : versions.entries)
        ComboBox1->addItem(entry.text, entry.id);
    ComboBox1->setCurrentIndex(-1);
    runLog.Note(QStringLiteral("%1 versions listed").arg(ComboBox1->count()));
}

void TForm2::Image2adClick()
{
    QDesktopServices::openUrl(QUrl(Settings.AdAddress));
}
