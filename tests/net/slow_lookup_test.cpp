// A resolver that takes its time: the lookup of a host name is waited for in slices like any
// other wait on the network, ends at the connect deadline or when the window closes, and a
// lookup given up on may finish later without harm.
#include "fetch_helper.h"
#include "qt_print.h"
#include "recording_hook.h"

#include <QThread>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <string_view>

namespace {

// Names under this domain take SlowLookupMs to be found missing.
constexpr char SlowDomain[] = ".slow.test";
constexpr int SlowLookupMs = 800;

bool IsSlow(const char *name)
{
    const std::string_view view = name ? name : "";
    return view.ends_with(SlowDomain);
}

} // namespace

// Defined in the executable, this takes the place of the C library's for Qt's lookups too.
extern "C" int getaddrinfo(const char *name, const char *service, const addrinfo *hints, addrinfo **result)
{
    if (IsSlow(name)) {
        QThread::msleep(SlowLookupMs);
        return EAI_NONAME;
    }
    using Lookup = int (*)(const char *, const char *, const addrinfo *, addrinfo **);
    static const auto next = reinterpret_cast<Lookup>(dlsym(RTLD_NEXT, "getaddrinfo"));
    return next(name, service, hints, result);
}

namespace {

const QString HostNotFound = QStringLiteral("Socket Error # 11001\r\nHost not found.");

TEST(SlowLookup, TheAnswerIsWaitedForWithTheHookCalled)
{
    RecordingHook hook;
    HttpClient client;
    client.ConnectTimeout = 5000;
    EXPECT_EQ(Fetch(client, u"http://answers.slow.test/"_qs).error, HostNotFound);
    EXPECT_GE(hook.Elapsed(), SlowLookupMs);
    EXPECT_LT(hook.LongestGap(), LongestAllowedGapMs);
}

TEST(SlowLookup, EndsAtTheConnectDeadlineAndAgainWhileAnEarlierOneIsStillRunning)
{
    HttpClient client;
    client.ConnectTimeout = 200;
    // The second begins while the first is still in the resolver; the third after it has left.
    for (const int pauseBefore : {0, 0, SlowLookupMs}) {
        QThread::msleep(pauseBefore);
        RecordingHook hook;
        EXPECT_EQ(Fetch(client, u"http://deadline.slow.test/"_qs).error, u"Connect timed out."_qs);
        EXPECT_LT(hook.Elapsed(), 200 + LongestAllowedGapMs);
    }
    // Names the resolver answers at once are still looked up.
    EXPECT_EQ(Fetch(client, u"http://no-such-host.invalid/"_qs).error, HostNotFound);
}

TEST(SlowLookup, AClosedWindowEndsTheWait)
{
    RecordingHook hook;
    hook.CancelAfter(100);
    EXPECT_EQ(RaisedByGet(u"http://closed.slow.test/"_qs), QStringLiteral("Operation aborted"));
    EXPECT_LT(hook.Elapsed(), 100 + LongestAllowedGapMs);
}

} // namespace
