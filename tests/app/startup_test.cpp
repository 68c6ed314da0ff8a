#include "application.h"
#include "failure.h"
#include "form2.h"
#include "package_fixture.h"
#include "package_reader.h"
#include "window_fixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScreen>
#include <functional>

namespace {

// A stand-in main window whose creation and show handlers a test scripts, to watch the
// start-up sequence from inside.
struct ProbeScript {
    std::function<void()> create;
    std::function<void()> show;
    int showRuns = 0;
    bool visibleAtShow = false;
};
ProbeScript script;

class ProbeWindow : public QWidget {
public:
    ProbeWindow()
    {
        setFixedSize(300, 200);
        if (script.create)
            script.create();
    }
    void FormShow()
    {
        ++script.showRuns;
        script.visibleAtShow = isVisible();
        if (script.show)
            script.show();
    }
};

class StartUpTest : public WindowTest {
protected:
    StartUpTest()
    {
        script = {};
        Watchdog();
    }
};

// The module is this test program's file, as the system names it (with ".exe" on Windows).
QRegularExpression ApplicationError()
{
    const QString module = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    return QRegularExpression("^Exception (\\w+) in module " + QRegularExpression::escape(module) +
                                  " at [0-9A-F]{8}\\.\\n(.*)\\n$",
                              QRegularExpression::DotMatchesEverythingOption);
}

TEST_F(StartUpTest, FailAndQuitInCreationStillShowsTheWindowAndEndsWithZero)
{
    script.create = [] { FailAndQuit("no package"); };
    EXPECT_EQ(RunMainWindow<ProbeWindow>(), 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "no package");
    EXPECT_EQ(visibleWindowsAtBox[0], 0) << "the notice comes before any window";
    EXPECT_EQ(script.showRuns, 1);
    EXPECT_TRUE(script.visibleAtShow);
}

TEST_F(StartUpTest, QuitTakenByAPumpBeforeTheLoopStillEnds)
{
    script.show = [] {
        RequestQuit();
        PumpEvents();
    };
    EXPECT_EQ(RunMainWindow<ProbeWindow>(), 0);
}

TEST_F(StartUpTest, FailureEscapingCreationShowsNoWindowAndEndsWithOne)
{
    script.create = [] { throw Failure("EReadError", "Stream read error"); };
    EXPECT_EQ(RunMainWindow<ProbeWindow>(), 1);
    EXPECT_EQ(script.showRuns, 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, "Application Error");
    EXPECT_TRUE(boxes[0].errorIcon);
    EXPECT_TRUE(boxes[0].topLevel);
    EXPECT_EQ(visibleWindowsAtBox[0], 0);
    const auto match = ApplicationError().match(boxes[0].text);
    ASSERT_TRUE(match.hasMatch()) << boxes[0].text.toStdString();
    EXPECT_EQ(match.captured(1), "EReadError");
    EXPECT_EQ(match.captured(2), "Stream read error.");
}

TEST_F(StartUpTest, FailureEscapingShowEndsWithOneBehindTheVisibleWindow)
{
    script.show = [] { throw Failure("EListError", "List index out of bounds (0)"); };
    EXPECT_EQ(RunMainWindow<ProbeWindow>(), 1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, "Application Error");
    EXPECT_EQ(visibleWindowsAtBox[0], 1);
    const auto match = ApplicationError().match(boxes[0].text);
    ASSERT_TRUE(match.hasMatch()) << boxes[0].text.toStdString();
    EXPECT_EQ(match.captured(1), "EListError");
    EXPECT_EQ(match.captured(2), "List index out of bounds (0).");
    EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty() || !MainWindow());
}

TEST_F(StartUpTest, MinimizeAndRestoreDoNotRunTheShowHandlerAgain)
{
    script.show = [] {
        QTimer::singleShot(0, qApp, [] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                if (w->isVisible()) {
                    w->showMinimized();
                    PumpEvents();
                    w->showNormal();
                    PumpEvents();
                }
            }
            RequestQuit();
        });
    };
    EXPECT_EQ(RunMainWindow<ProbeWindow>(), 0);
    EXPECT_EQ(script.showRuns, 1);
}

TEST_F(StartUpTest, WindowIsCentredOnTheWorkArea)
{
    QRect frame;
    QRect workArea;
    script.show = [&] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w->isVisible()) {
                frame = w->frameGeometry();
                workArea = w->screen()->availableGeometry();
            }
        }
        RequestQuit();
    };
    EXPECT_EQ(RunMainWindow<ProbeWindow>(), 0);
    EXPECT_EQ(frame.left(), workArea.left() + (workArea.width() - frame.width()) / 2);
    EXPECT_EQ(frame.top(), workArea.top() + (workArea.height() - frame.height()) / 2);
}

struct RunCase {
    const char *name;
    std::function<QByteArray()> package; // null: no pack.db
    int status;
    const char *boxTitle; // nullptr: no box; "" for the application title
    QString boxText;      // for an "Application Error" box: kind + "|" + message
};

// Names the case in test listings.
void PrintTo(const RunCase &c, std::ostream *os)
{
    *os << c.name;
}

class InstallerRunTest : public StartUpTest, public ::testing::WithParamInterface<RunCase> {};

TEST_P(InstallerRunTest, PackageDecidesHowTheRunEnds)
{
    const RunCase &c = GetParam();
    const QString path = PackagePath(folder());
    if (c.package)
        WriteFile(path, c.package());
    // A run that goes on is ended the way a user ends it, once its opening load is done (a
    // close during the load would cut it short).
    int looks = 0;
    std::function<void()> closeWhenLoaded = [&] {
        TForm2 *form = MainWindow();
        if (!form)
            return;
        if (!QDir(folder() + "download").exists() && ++looks < 250)
            QTimer::singleShot(20, qApp, closeWhenLoaded);
        else
            form->close();
    };
    QTimer::singleShot(100, qApp, closeWhenLoaded);
    EXPECT_EQ(RunMainWindow<TForm2>(), c.status);
    // The opening load creates the download folder: it ran unless creation failed.
    EXPECT_EQ(QDir(folder() + "download").exists(), c.status == 0);
    if (!c.boxTitle) {
        EXPECT_TRUE(boxes.empty());
        return;
    }
    ASSERT_EQ(boxes.size(), 1u);
    const MessageBox &box = boxes[0];
    if (QString(c.boxTitle) == "Application Error") {
        EXPECT_EQ(box.title, "Application Error");
        const auto match = ApplicationError().match(box.text);
        ASSERT_TRUE(match.hasMatch()) << box.text.toStdString();
        EXPECT_EQ(match.captured(1) + "|" + match.captured(2), c.boxText);
    } else {
        EXPECT_EQ(box.title, ApplicationTitle());
        EXPECT_EQ(box.text, QString(c.boxText).replace("%PATH%", path));
        EXPECT_FALSE(box.errorIcon);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, InstallerRunTest,
    ::testing::Values(RunCase{"WellFormed",
                              [] { return PackageFile(WellFormedText("http://127.0.0.1:1/b,,")); },
                              0,
                              nullptr,
                              {}},
                      RunCase{"Missing", nullptr, 0, "", QStringLiteral("文件不存在：%PATH%")},
                      RunCase{"Damaged", [] { return PackageFile("only`three`fields"); }, 0, "",
                              QStringLiteral("文件已经被破坏，无法打开")},
                      RunCase{"VersionMismatch", [] { return PackageFile(WellFormedText("a,b")); }, 0, "",
                              QStringLiteral("数据包和主程序版本不匹配")},
                      RunCase{"NotHex", [] { return "G1" + Trailer(2); }, 1, "Application Error",
                              "EConvertError|'$G1' is not a valid integer value."},
                      RunCase{"Truncated", [] { return QByteArray("00"); }, 1, "Application Error",
                              "EReadError|Stream read error."}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
