// Archive paths that are no regular file (a pipe, a folder, a device) are refused at once,
// never waited on. Pipes and devices as Unix has them.
#include "extraction_fixture.h"
#include "failure.h"
#include "zip_extract.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <chrono>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A FIFO's open waits for a writer: this one comes and goes at once, so an open that still
// waits returns (to find an empty file) and the test fails instead of stalling the run.
void ReleaseWaitingReader(const QString &Fifo)
{
    const int Writer = open(QFile::encodeName(Fifo).constData(), O_WRONLY | O_NONBLOCK);
    if (Writer >= 0)
        close(Writer);
}

constexpr std::chrono::seconds WaitLimit(20);

class NotARegularFile : public ExtractionTest {
protected:
    void SetUp() override
    {
        ASSERT_EQ(mkfifo(QFile::encodeName(Fifo()).constData(), 0600), 0);
        ASSERT_TRUE(QDir().mkdir(Folder()));
    }
    QString Fifo() const { return Scratch.filePath("fifo.zip"); }
    QString Folder() const { return Scratch.filePath("folder.zip"); }
};

TEST_F(NotARegularFile, IsRefusedWithoutWaiting)
{
    for (const QString &Path : {Fifo(), Folder(), QString("/dev/null")}) {
        SCOPED_TRACE(Path.toStdString());
        auto Outcome = std::async(std::launch::async, [&]() -> QString {
            try {
                ExtractZipFile(Path, Destination(), 936);
                return "no failure";
            } catch (const Failure &Error) {
                return Error.Message();
            }
        });
        if (Outcome.wait_for(WaitLimit) == std::future_status::timeout) {
            ReleaseWaitingReader(Fifo());
            ADD_FAILURE() << "still waiting after " << WaitLimit.count() << " s";
        }
        EXPECT_EQ(Outcome.get(), QString("Cannot open file \"%1\". Not a regular file").arg(Path));
        EXPECT_FALSE(QFileInfo::exists(Destination()));
    }
}

TEST_F(NotARegularFile, ZipextractSaysSoAndEnds)
{
    QProcess Tool;
    Tool.start(ZIPEXTRACT_PATH, {Fifo(), Destination()});
    ASSERT_TRUE(Tool.waitForStarted());
    if (!Tool.waitForFinished(int(std::chrono::milliseconds(WaitLimit).count()))) {
        ReleaseWaitingReader(Fifo());
        Tool.waitForFinished();
        ADD_FAILURE() << "still waiting after " << WaitLimit.count() << " s";
    }
    EXPECT_EQ(Tool.exitCode(), 1);
    EXPECT_EQ(QString::fromLocal8Bit(Tool.readAllStandardError()),
              QString("Cannot open file \"%1\". Not a regular file\n").arg(Fifo()));
    EXPECT_FALSE(QFileInfo::exists(Destination()));
}

} // namespace
