// The window's opening load against a scripted server.
#include "default_banner.h"
#include "shell.h"
#include "url_recorder.h"
#include "window_fixture.h"

#include <QBuffer>
#include <QComboBox>
#include <QEvent>
#include <QFile>
#include <QFileInfo>

namespace {

QByteArray Png(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "png");
    return bytes;
}

enum class Banner { Default, Transparent, Replaced };

struct BannerCase {
    const char *name;
    ScriptServer::Reply reply;
    Banner expected;
};

class BannerTest : public WindowTest, public testing::WithParamInterface<BannerCase> {};

TEST_P(BannerTest, FollowsThePictureRules)
{
    server.On("/banner", GetParam().reply);
    server.On("/elsewhere.png", ScriptServer::Ok(Png(10, 10)));
    Open();
    const QImage &picture = form->Image2ad->Picture();
    switch (GetParam().expected) {
    case Banner::Default:
        EXPECT_EQ(picture, DefaultBanner());
        break;
    case Banner::Transparent:
        EXPECT_EQ(picture.size(), DefaultBanner().size());
        EXPECT_EQ(qAlpha(picture.pixel(0, 0)), 0);
        EXPECT_EQ(qAlpha(picture.pixel(480, 240)), 0);
        break;
    case Banner::Replaced:
        // Wider than the banner: decoded straight at the banner's size, as it is shown.
        EXPECT_EQ(picture.size(), QSize(965, 477));
        EXPECT_EQ(QColor(picture.pixel(5, 5)), QColor(Qt::darkGreen));
        break;
    }
    EXPECT_TRUE(notices.isEmpty());
}

QByteArray JpegWithoutJfif()
{
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "jpeg");
    jpeg.remove(2, 2 + ((uchar(jpeg[4]) << 8) | uchar(jpeg[5]))); // FF D8 FF DB ...
    return jpeg;
}

INSTANTIATE_TEST_SUITE_P(
    Table, BannerTest,
    testing::Values(BannerCase{"png", ScriptServer::Ok(Png(1200, 300), "image/png"), Banner::Replaced},
                    BannerCase{"empty", ScriptServer::Ok({}), Banner::Transparent},
                    BannerCase{"redirect",
                               ScriptServer::Status("HTTP/1.1 302 Found", "Location: /elsewhere.png\r\n"),
                               Banner::Default},
                    BannerCase{"missing", ScriptServer::Status("HTTP/1.1 404 Not Found"), Banner::Default},
                    BannerCase{"jpegDb", ScriptServer::Ok(JpegWithoutJfif(), "image/jpeg"), Banner::Default},
                    BannerCase{"short", ScriptServer::Ok("GIF"), Banner::Default},
                    BannerCase{"html", ScriptServer::Ok("<html>Sorry</html>", "text/html"), Banner::Default},
                    BannerCase{"cutPng", ScriptServer::Ok(Png(1200, 300).left(100)), Banner::Default}),
    [](const auto &info) { return std::string(info.param.name); });

struct NoticeCase {
    const char *name;
    QByteArray body;
    const char16_t *kept;
};

class NoticeTest : public WindowTest, public testing::WithParamInterface<NoticeCase> {};

TEST_P(NoticeTest, IsKeptOnlyWithThePhrase)
{
    server.On("/notice", ScriptServer::Ok(GetParam().body, "text/plain"));
    Open();
    EXPECT_EQ(form->Session.NoticeText, QString::fromUtf16(GetParam().kept));
}

INSTANTIATE_TEST_SUITE_P(
    Table, NoticeTest,
    testing::Values(NoticeCase{"trimmed", " \r\n有问题请加客服QQ 1234\r\n ", u"有问题请加客服QQ 1234"},
                    NoticeCase{"withoutPhrase", "欢迎使用", u""}, NoticeCase{"notUtf8", "\xFF请加客服", u""},
                    NoticeCase{"gbk", "\xC7\xEB\xBC\xD3\xBF\xCD\xB7\xFE", u""}, // 请加客服 in GBK
                    NoticeCase{"empty", "", u""}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(WindowTest, NoticeOfAFailedRequestIsEmpty)
{
    Open(); // nothing scripted: 404
    EXPECT_TRUE(form->Session.NoticeText.isEmpty());
}

struct ListCase {
    const char *name;
    QByteArray reply;                                                 // GBK
    std::vector<std::pair<const char16_t *, const char16_t *>> items; // text, id
};

class VersionListTest : public WindowTest, public testing::WithParamInterface<ListCase> {};

TEST_P(VersionListTest, ListsEveryWellFormedEntryInOrder)
{
    server.On(ListTarget, ScriptServer::Ok(GetParam().reply, "text/plain; charset=gbk"));
    Open();
    const auto &items = GetParam().items;
    ASSERT_EQ(form->ComboBox1->count(), int(items.size()));
    for (int i = 0; i < int(items.size()); ++i) {
        EXPECT_EQ(form->ComboBox1->itemText(i), QString::fromUtf16(items[i].first)) << i;
        EXPECT_EQ(form->ComboBox1->itemData(i).toString(), QString::fromUtf16(items[i].second)) << i;
    }
    EXPECT_EQ(form->ComboBox1->currentIndex(), -1);
    EXPECT_TRUE(notices.isEmpty());
    EXPECT_FALSE(QuitRequested());
}

INSTANTIATE_TEST_SUITE_P(
    Table, VersionListTest,
    testing::Values(ListCase{"empty", "", {}}, ListCase{"blanks", " \r\n ", {}},
                    ListCase{"two", "11`\xB0\xE6\xB1\xBE\xD2\xBB|12`B", {{u"版本一", u"11"}, {u"B", u"12"}}},
                    ListCase{"thirdFieldIgnored", "1`A`x", {{u"A", u"1"}}},
                    ListCase{"emptyIdAndText", "`A|2`", {{u"A", u""}, {u"", u"2"}}},
                    ListCase{"lineBreakJoinsTheId", "1`A|\r\n2`B\r\n", {{u"A", u"1"}, {u"B", u"\r\n2"}}},
                    ListCase{"trailingBar", "1`A|2`B|", {{u"A", u"1"}, {u"B", u"2"}}},
                    ListCase{"withoutBacktick", "1`A|junk|3`C", {{u"A", u"1"}, {u"C", u"3"}}},
                    ListCase{"doubleBar", "1`A||3`C", {{u"A", u"1"}, {u"C", u"3"}}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(WindowTest, VersionListQueryEncodesThePackageId)
{
    packageId = QStringLiteral("demo pack&x=1");
    Open();
    ASSERT_FALSE(server.Requests().isEmpty());
    EXPECT_TRUE(server.Requests().contains("/versions?pid=demo%20pack%26x%3D1&act=list&fee=1"));
}

TEST_F(WindowTest, DownloadFolderIsCreatedBesideTheProgram)
{
    Open();
    EXPECT_EQ(form->Session.DownloadFolder, Download());
    EXPECT_TRUE(QFileInfo(Download()).isDir());
}

TEST_F(WindowTest, DownloadFolderThatCannotBeCreatedIsNoMessageYet)
{
    QFile blocker(Folder() + QStringLiteral("download"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    Open();
    EXPECT_EQ(form->Session.DownloadFolder, Download());
    EXPECT_FALSE(QFileInfo(Download()).isDir());
    EXPECT_TRUE(notices.isEmpty());
}

// Records how many requests the server had seen when the banner was first painted.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(const ScriptServer &server) : server_(server) {}
    qsizetype requestsSeen = -1;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && requestsSeen < 0)
            requestsSeen = server_.Requests().size();
        return QObject::eventFilter(watched, event);
    }

private:
    const ScriptServer &server_;
};

TEST_F(WindowTest, TheWindowIsPaintedBeforeItsRequests)
{
    Create();
    FirstPaint paint(server);
    form->Image2ad->installEventFilter(&paint);
    form->show();
    form->FormShow();
    EXPECT_EQ(paint.requestsSeen, 0);
    EXPECT_EQ(server.Requests().size(), 3); // banner, notice, version list
}

TEST_F(WindowTest, BannerClickOpensTheAdvertisement)
{
    UrlRecorder browser(QStringLiteral("http"));
    Open();
    form->Image2adClick();
    ASSERT_EQ(browser.opened.size(), 1);
    EXPECT_EQ(browser.opened[0], QUrl(Address("/ad")));
}

} // namespace
