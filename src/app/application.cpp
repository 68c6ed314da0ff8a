#include "application.h"

#include "failure_boxes.h"
#include "quit_signal.h"

#include <QScreen>
#include <QWidget>

TApplication::TApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    // The program ends only through RequestQuit; a dismissed box must not end it.
    setQuitOnLastWindowClosed(false);
}

bool TApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowErrorBox(std::current_exception());
        return true;
    }
}

void BeginRun()
{
    ResetQuit();
}

void PlaceOnWorkArea(QWidget &window)
{
    // Creating the native window first makes its frame, and so its outer size, known where
    // the platform can tell it before the window is shown.
    window.winId();
    const QRect workArea = window.screen()->availableGeometry();
    const QSize outer = window.frameGeometry().size();
    window.move(workArea.left() + (workArea.width() - outer.width()) / 2,
                workArea.top() + (workArea.height() - outer.height()) / 2);
}

int RunEventLoop()
{
    // A pump inside FormShow may have taken the quit signal before the loop ran.
    if (QuitTaken())
        PostQuitSignal();
    return QCoreApplication::exec();
}
