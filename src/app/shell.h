#pragma once

#include <QString>
#include <functional>

// The conventions by which every handler talks to the user and ends the program.

// The folder of the running program file, with its trailing separator.
QString ProgramFolder();
// Tests run the window against a folder of their own; an empty folder restores the program's.
void SetProgramFolder(const QString &folder);

// The title that modal notices carry, derived from the program file's name: cut at the first
// ".", every character after the first in lower case ("SETUP.EXE" gives "Setup").
QString ApplicationTitle();
QString ApplicationTitleFor(const QString &programPath);

// A modal box titled ApplicationTitle with one OK button and no icon; returns when it is
// dismissed.
void ShowNotice(const QString &text);
// Asks the program to end once the current handler and the pending events are done.
void RequestQuit();
bool QuitRequested();
// Told the text of every notice before it shows (the run log keeps them); empty: nobody.
void SetNoticeObserver(std::function<void(const QString &text)> observer);
// ShowNotice, then RequestQuit. The caller returns from its handler right after.
void FailAndQuit(const QString &text);
// Dispatches every pending window event without waiting and returns when none is left.
void PumpEvents();

// The body of the "Error" box for a failure that escaped an event handler.
QString ErrorBoxText(const QString &message);

// Every modal box of the program goes through one presenter, so tests can record boxes
// instead of showing them. The default presenter shows a QMessageBox.
struct MessageBox {
    QString title;
    QString text;
    bool errorIcon = false;
    // Owned by no window and modal to the whole program (the "Application Error" box);
    // otherwise owned by the active window, if any.
    bool topLevel = false;
};
using MessagePresenter = std::function<void(const MessageBox &box)>;
// An empty presenter restores the default.
void SetMessagePresenter(MessagePresenter presenter);
// Fails with "Messages must be shown in the main UI thread." on any other thread.
void PresentMessage(const MessageBox &box);
