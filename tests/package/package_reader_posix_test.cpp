#include "failure.h"
#include "package_fixture.h"
#include "package_reader.h"

#include <QFile>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Root reads any file, so the unreadable file is opened by a child that gave up root.
TEST_F(PackageFolder, UnreadableFileFailsToOpen)
{
    WriteFile(path(), PackageFile(WellFormedText()));
    ASSERT_TRUE(QFile::setPermissions(path(), QFile::ReadOwner | QFile::WriteOwner));
    ASSERT_TRUE(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                      QFile::ReadOther | QFile::ExeOther));
    const QString expected = QStringLiteral("Cannot open file \"%1\". Permission denied").arg(path());
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(3);
        try {
            LoadPackage(path());
        } catch (const Failure &failure) {
            _exit(failure.Kind() == "EFOpenError" && failure.Message() == expected ? 0 : 1);
        }
        _exit(2);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: other failure, 2: no failure, 3: could not drop root";
}

} // namespace
