#pragma once

#include "shell.h"

#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

class TForm2;

// The main window of the run under way, if any.
TForm2 *MainWindow();

// Every window test runs in a program folder of its own and records the boxes the program
// shows instead of showing them.
class WindowTest : public ::testing::Test {
protected:
    WindowTest();
    ~WindowTest() override;

    QString folder() const { return dir.path() + "/"; }
    // Writes a well-formed pack.db into the program folder.
    void WriteWellFormedPackage();
    // Ends the event loop with status 99 after a few seconds, so a broken quit fails the test
    // instead of hanging it.
    void Watchdog();

    QTemporaryDir dir;
    std::vector<MessageBox> boxes;
    // How many windows were visible when each box was presented.
    std::vector<int> visibleWindowsAtBox;
    std::unique_ptr<QTimer> watchdog;
};
