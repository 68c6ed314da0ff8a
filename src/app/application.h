#pragma once

#include "failure_boxes.h"

#include <QApplication>
#include <exception>
#include <memory>

// The application object: every event it dispatches has a failure guard, so a failure that
// escapes a handler (also one run inside PumpEvents) ends in the "Error" box and the program
// goes on.
class TApplication : public QApplication {
public:
    TApplication(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
};

// Pieces of the start-up sequence, used by RunMainWindow.
void BeginRun();
void PlaceOnWorkArea(QWidget &window);
int RunEventLoop();

// The start-up sequence: create the window (its constructor runs FormCreate), centre and show
// it, run FormShow once, activate it, then run the event loop. A failure escaping FormCreate
// or FormShow ends the program through the "Application Error" box with status 1; a quit
// requested meanwhile still lets the window show and FormShow run, and ends the program once
// the first events are dispatched.
template <class Window>
int RunMainWindow()
{
    BeginRun();
    std::unique_ptr<Window> window;
    try {
        window = std::make_unique<Window>();
        PlaceOnWorkArea(*window);
        window->show();
        window->FormShow();
        window->activateWindow();
    } catch (...) {
        ShowApplicationError(std::current_exception());
        return 1;
    }
    return RunEventLoop();
}
