// The cookie store of one client. Each line of the input is either a request address,
// written "@address" and merged into the current one as a redirect would be, or a Set-Cookie
// value of the reply to the current address. After every line the store is asked for the
// Cookie header of the current address, one second later each time.
#include "address.h"
#include "cookie_store.h"
#include "fuzz_support.h"
#include "transfer_error.h"

namespace {

// The value is written into the request head: nothing in it may end the line or start another.
bool FitsOneHeaderLine(const QString &value)
{
    for (const QChar c : value) {
        if ((c.unicode() < 0x20 && c != u'\t') || c.unicode() == 0x7F)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    CookieStore store;
    Address current = ParseAddress(QStringLiteral("http://example.com/a/b.zip"));
    QDateTime now(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC);
    for (const QString &line : InputLines(data, size)) {
        if (line.startsWith(u'@')) {
            try {
                current = MergeAddress(current, ParseAddress(line.mid(1)));
            } catch (const TransferError &) {
                continue;
            }
        } else {
            store.Take(line, current, now);
        }
        FUZZ_REQUIRE(FitsOneHeaderLine(store.HeaderFor(current, now)));
        now = now.addSecs(1);
    }
    return 0;
}
