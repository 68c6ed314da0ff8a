#include "failure.h"
#include "failure_boxes.h"
#include "shell.h"
#include "window_fixture.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <QTimer>

namespace {

struct TitleCase {
    const char *path;
    QString title;
};

// Names the case in test listings.
void PrintTo(const TitleCase &c, std::ostream *os)
{
    *os << c.path;
}

class ApplicationTitleTest : public ::testing::TestWithParam<TitleCase> {};

TEST_P(ApplicationTitleTest, DerivedFromTheProgramFile)
{
    EXPECT_EQ(ApplicationTitleFor(QString::fromUtf8(GetParam().path)), GetParam().title);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ApplicationTitleTest,
    ::testing::Values(TitleCase{"/opt/x/SETUP.EXE", "Setup"}, TitleCase{"/opt/x/my.tool.exe", "my"},
                      TitleCase{"/opt/x/installer", "installer"}, TitleCase{"/opt/x/Installer", "Installer"},
                      TitleCase{"/opt/x.d/MyApp", "Myapp"}, TitleCase{"/opt/x/.hidden", ""},
                      TitleCase{"/opt/x/", ""}, TitleCase{"/opt/x/ÄÖÜ.bin", "Äöü"},
                      TitleCase{"/opt/x/安装ABC", "安装abc"}));

TEST(ApplicationTitle, IsThisProgramsFileName)
{
    EXPECT_EQ(ApplicationTitle(), "app_tests");
}

struct ErrorTextCase {
    QString message;
    QString shown;
};

void PrintTo(const ErrorTextCase &c, std::ostream *os)
{
    *os << c.message.toStdString();
}

class ErrorBoxTextTest : public ::testing::TestWithParam<ErrorTextCase> {};

TEST_P(ErrorBoxTextTest, FullStopRule)
{
    EXPECT_EQ(ErrorBoxText(GetParam().message), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ErrorBoxTextTest,
    ::testing::Values(ErrorTextCase{"Disk full", "Disk full."}, ErrorTextCase{"Disk full.", "Disk full."},
                      ErrorTextCase{"(see log)", "(see log)"}, ErrorTextCase{"Stop!", "Stop!"},
                      ErrorTextCase{"", ""}, ErrorTextCase{"a-", "a-"}, ErrorTextCase{"a/", "a/."},
                      ErrorTextCase{"9", "9."},
                      ErrorTextCase{QStringLiteral("下载失败"), QStringLiteral("下载失败.")},
                      ErrorTextCase{QStringLiteral("处理；"), QStringLiteral("处理；.")}));

struct ApplicationErrorCase {
    QString message;
    QString text;
};

void PrintTo(const ApplicationErrorCase &c, std::ostream *os)
{
    *os << c.message.toStdString();
}

class ApplicationErrorTextTest : public ::testing::TestWithParam<ApplicationErrorCase> {};

TEST_P(ApplicationErrorTextTest, Layout)
{
    EXPECT_EQ(ApplicationErrorText("EReadError", "installer", 0x4A2F0, GetParam().message), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ApplicationErrorTextTest,
    ::testing::Values(
        ApplicationErrorCase{"Stream read error",
                             "Exception EReadError in module installer at 0004A2F0.\nStream read error.\n"},
        ApplicationErrorCase{"Ends in a stop.",
                             "Exception EReadError in module installer at 0004A2F0.\nEnds in a stop.\n"},
        ApplicationErrorCase{"Ends in (parens)",
                             "Exception EReadError in module installer at 0004A2F0.\nEnds in (parens).\n"},
        ApplicationErrorCase{"", "Exception EReadError in module installer at 0004A2F0.\n\n"}));

class NoticeTest : public WindowTest {};

TEST_F(NoticeTest, TitledWithTheApplicationTitleWithoutIcon)
{
    ShowNotice(QStringLiteral("请先选择要安装的软件版本"));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, "app_tests");
    EXPECT_EQ(boxes[0].text, QStringLiteral("请先选择要安装的软件版本"));
    EXPECT_FALSE(boxes[0].errorIcon);
    EXPECT_FALSE(boxes[0].topLevel);
}

// The real box, answered by its OK button: a service's reply or a path that looks like markup
// is shown as it stands.
TEST_F(NoticeTest, RealBoxShowsTheTextAsItStands)
{
    SetMessagePresenter({});
    const QString reply = QStringLiteral("<b>error</b>: 版本 &lt;2&gt; 已下架");
    QString shown;
    Qt::TextFormat format = Qt::AutoText;
    QTimer::singleShot(0, qApp, [&] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible()) {
                shown = box->text();
                format = box->textFormat();
                box->accept();
            }
        }
    });
    ShowNotice(reply);
    EXPECT_EQ(shown, reply);
    EXPECT_EQ(format, Qt::PlainText);
}

TEST_F(NoticeTest, RefusedOutsideTheUserInterfaceThread)
{
    QString message;
    std::unique_ptr<QThread> thread(QThread::create([&] {
        try {
            ShowNotice("from a worker");
        } catch (const Failure &failure) {
            message = failure.Message();
        }
    }));
    thread->start();
    ASSERT_TRUE(thread->wait(10000));
    EXPECT_EQ(message, "Messages must be shown in the main UI thread.");
    EXPECT_TRUE(boxes.empty());
}

TEST_F(NoticeTest, ProgramFolderCanBeSetAndRestored)
{
    EXPECT_EQ(ProgramFolder(), folder());
    SetProgramFolder({});
    EXPECT_EQ(ProgramFolder(), QCoreApplication::applicationDirPath() + "/");
}

} // namespace
