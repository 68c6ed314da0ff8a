// Every wait on the network runs in slices with the thread's wait hook between them, so a
// window can stay alive and cancel a transfer that waits on a silent server.
#include "fetch_helper.h"
#include "network_wait.h"
#include "qt_print.h"
#include "recording_hook.h"
#include "scripted_server.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

namespace {

TEST(NetworkWait, ASilentServerLeavesTheHookItsTurnUntilTheReadTimeOut)
{
    ScriptedServer server({{Step::ExpectRequest(), Step::Pause(1200)}});
    RecordingHook hook;
    HttpClient client;
    client.ReadTimeout = 600;
    const Fetched fetched = Fetch(client, server.Url("/f"));
    EXPECT_EQ(fetched.error, QStringLiteral("Read timed out."));
    EXPECT_GE(hook.Calls(), 600 / 40 / 2);
    EXPECT_LT(hook.LongestGap(), LongestAllowedGapMs);
}

TEST(NetworkWait, AHookThatRaisesEndsTheTransferAtOnce)
{
    // Silent in the head, in the body, and before a chunk.
    const std::pair<const char *, QByteArray> stalls[] = {
        {"before the reply", {}},
        {"in the body", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc"},
        {"before a chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n"},
    };
    for (const auto &[name, sent] : stalls) {
        SCOPED_TRACE(name);
        ScriptedServer server({{Step::ExpectRequest(), Step::Reply(sent), Step::Pause(1000)}});
        RecordingHook hook;
        hook.CancelAfter(200);
        EXPECT_EQ(RaisedByGet(server.Url("/f")), QStringLiteral("Operation aborted"));
        EXPECT_LT(hook.Elapsed(), 200 + LongestAllowedGapMs);
    }
}

TEST(NetworkWait, SleepingCallsTheHookAndEndsWithIt)
{
    RecordingHook hook;
    SleepInSlices(QDeadlineTimer(300));
    EXPECT_GE(hook.Elapsed(), 300);
    EXPECT_LT(hook.LongestGap(), LongestAllowedGapMs);
    hook.CancelAfter(0);
    EXPECT_THROW(SleepInSlices(QDeadlineTimer(10000)), Failure);
    EXPECT_LT(hook.Elapsed(), 300 + LongestAllowedGapMs);
}

} // namespace
