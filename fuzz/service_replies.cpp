// The version-list and lookup-reply rules on anyone's reply body, read as the installer reads
// it: GBK for both service replies, strict UTF-8 for the notice.
#include "fuzz_support.h"
#include "path_rules.h"
#include "service_replies.h"
#include "text.h"

namespace {

// Only A-Z a-z 0-9 "-" "." "_" "~" and escapes: nothing that could end the value.
bool IsQueryValue(const QString &value)
{
    for (const QChar c : value) {
        const bool unreserved = (c.unicode() < 0x80 && c.isLetterOrNumber()) || QStringView(u"-._~%").contains(c);
        if (!unreserved)
            return false;
    }
    return EscapesAreWhole(value);
}

void CheckVersionList(const QString &reply)
{
    const VersionList list = ParseVersionList(reply);
    FUZZ_REQUIRE(list.entries.size() + list.malformed.size() == SplitFields(TrimControls(reply), u'|').size());
    for (const VersionEntry &entry : list.entries) {
        for (const QString &field : {entry.id, entry.text})
            FUZZ_REQUIRE(!field.contains(u'|') && !field.contains(u'`'));
        // The id goes back to the service in a query, where it must stay one value.
        FUZZ_REQUIRE(IsQueryValue(QueryValue(entry.id)));
    }
}

// An accepted address names the archive's file in the download folder and the folder it is
// unpacked into: neither may leave the download folder.
void CheckLookupReply(const QString &reply)
{
    const LookupVerdict verdict = JudgeLookupReply(reply);
    FUZZ_REQUIRE(verdict.text == TrimControls(reply));
    if (verdict.kind != LookupVerdict::Accepted)
        return;
    FUZZ_REQUIRE(!FoldAsciiCase(verdict.text).contains(QStringLiteral("error")));
    const QString folded = FoldAsciiCase(verdict.text);
    FUZZ_REQUIRE(folded.startsWith(QStringLiteral("http://")) || folded.startsWith(QStringLiteral("https://")));
    const QString segment = LastPathSegment(verdict.text);
    FUZZ_REQUIRE(!segment.contains(u'/'));
    const QString base = BaseNameOf(FileNameOf(segment));
    FUZZ_REQUIRE(!base.contains(u'/'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString reply = DecodeGbk(InputBytes(data, size));
    CheckVersionList(reply);
    CheckLookupReply(reply);
    if (const std::optional<QString> notice = DecodeUtf8Strict(InputBytes(data, size))) {
        const QString kept = KeptNotice(*notice);
        FUZZ_REQUIRE(kept.isEmpty() || kept.contains(QStringLiteral("请加客服")));
    }
    return 0;
}
