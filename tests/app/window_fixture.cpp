#include "window_fixture.h"

#include "form2.h"
#include "package_fixture.h"
#include "package_reader.h"

#include <QApplication>

TForm2 *MainWindow()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *form = qobject_cast<TForm2 *>(widget))
            return form;
    }
    return nullptr;
}

static int VisibleWindows()
{
    int count = 0;
    for (QWidget *widget : QApplication::topLevelWidgets())
        count += widget->isVisible() ? 1 : 0;
    return count;
}

WindowTest::WindowTest()
{
    SetProgramFolder(folder());
    SetMessagePresenter([this](const MessageBox &box) {
        boxes.push_back(box);
        visibleWindowsAtBox.push_back(VisibleWindows());
    });
}

WindowTest::~WindowTest()
{
    SetMessagePresenter({});
    SetProgramFolder({});
}

void WindowTest::WriteWellFormedPackage()
{
    // Addresses that fail at once, whatever the opening load does with them.
    WriteFile(PackagePath(folder()),
              PackageFile(WellFormedText(
                  "http://127.0.0.1:1/banner.png,http://127.0.0.1:1/ad,http://127.0.0.1:1/n")));
}

void WindowTest::Watchdog()
{
    watchdog = std::make_unique<QTimer>();
    watchdog->setSingleShot(true);
    QObject::connect(watchdog.get(), &QTimer::timeout, [] { QCoreApplication::exit(99); });
    watchdog->start(10000);
}
