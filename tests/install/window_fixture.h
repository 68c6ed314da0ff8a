#pragma once

#include "form2.h"
#include "script_server.h"

#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

// The setup program of the test archives, one this system starts through its association (a
// shell script here, a batch file on Windows): records that it ran in ran.txt beside itself.
extern const QByteArray SetupName;
QByteArray MarkerScript();

// The real window in a program folder of its own, against a scripted server. Notices are
// recorded instead of shown.
class WindowTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The program folder, with its trailing separator.
    QString Folder() const { return folder_.path() + u'/'; }
    QString Download() const { return Folder() + QStringLiteral("download/"); }
    QString Address(const QByteArray &target) const { return server.Base() + QString::fromLatin1(target); }

    // Writes pack.db for the server's services and creates the window.
    TForm2 &Create();
    // Create, then show and FormShow.
    TForm2 &Open();

    // Scripts the version list and the lookup of version "1" to point at the archive target.
    void ServeVersion(const QByteArray &archiveTarget, const QByteArray &archive);

    // Mounts a file system of its own, of that size, on the program folder (root only, in a
    // mount namespace of the test's own); false when it cannot. Unmounted at the end.
    bool SmallProgramFolder(int mebibytes);

    // Waits, pumping events, until the file exists (the setup program runs detached).
    bool AwaitFile(const QString &path, int milliseconds = 10000);

    ScriptServer server;
    QStringList notices;
    std::unique_ptr<TForm2> form;
    QString packageId = QStringLiteral("demo");
    QString launcherName = QString::fromLatin1(SetupName);
    QString publicKey;

    static const QByteArray ListTarget;   // the version-list query for package "demo"
    static const QByteArray LookupTarget; // the address lookup of version "1"

private:
    QTemporaryDir folder_;
    bool mounted_ = false;
};

