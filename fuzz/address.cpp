// Address parse and merge: each line of the input is an address that the client meets in
// turn (the first as handed to Get, the rest as redirect targets), merged into the current one.
#include "address.h"
#include "fuzz_support.h"
#include "transfer_error.h"

namespace {

// Goes into the request line: no blank or control may end it early. (A "%" goes out as the
// address wrote it, so it need not start an escape.)
void CheckRequestTarget(const QString &target)
{
    FUZZ_REQUIRE(IsPrintableAscii(target));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Address current;
    for (const QString &line : InputLines(data, size)) {
        const Address parsed = ParseAddress(line);
        try {
            current = MergeAddress(current, parsed);
        } catch (const TransferError &) {
            continue; // no port: the Get ends here
        }
        CheckRequestTarget(RequestTarget(current));
        try {
            FUZZ_REQUIRE(IsPrintableAscii(HostValue(current)));
        } catch (const TransferError &) {
            // a host that cannot be looked up or written into the head
        }
        const ConnectionTarget target = TargetOf(current);
        FUZZ_REQUIRE(target.tls == IsScheme(current.scheme, u"https"));
    }
    return 0;
}
