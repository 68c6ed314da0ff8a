// The window's opening load: banner, notice, download folder and version list.
#include "banner_picture.h"
#include "form2.h"
#include "service_replies.h"
#include "shell.h"
#include "text.h"
#include "text_fetcher.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
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
    // The requests below block the thread; draw the window first so it is never blank while
    // the services answer. Input waits for the event loop.
    repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);

    LoadBanner(*Image2ad, Settings.BannerAddress);

    Session.NoticeText = KeptNotice(FetchText(Settings.NoticeAddress, CodePage::Utf8));

    Session.DownloadFolder = ProgramFolder() + QStringLiteral("download/");
    if (!QFileInfo(Session.DownloadFolder).isDir())
        QDir().mkdir(Session.DownloadFolder);

    const VersionList versions = ParseVersionList(
        FetchText(VersionListQuery(Settings.VersionListAddress, Settings.PackageId), CodePage::Gbk));
    ComboBox1->clear();
    for (const VersionEntry &entry : versions.entries)
        ComboBox1->addItem(entry.text, entry.id);
    ComboBox1->setCurrentIndex(-1);
}

void TForm2::Image2adClick()
{
    QDesktopServices::openUrl(QUrl(Settings.AdAddress));
}
