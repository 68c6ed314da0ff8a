// The data package reader on anyone's pack.db. The installer reads packages only from a
// file, so the bytes are written to one.
#include "failure.h"
#include "fuzz_support.h"
#include "package_reader.h"
#include "text.h"

#include <QFile>
#include <QTemporaryDir>

namespace {

void CheckOutcome(const PackageLoad &load)
{
    const PackageSettings &s = load.Settings;
    const bool noAddresses = s.BannerAddress.isEmpty() && s.AdAddress.isEmpty() && s.NoticeAddress.isEmpty();
    FUZZ_REQUIRE(!load.ServiceNumber.isEmpty());
    switch (load.Outcome) {
    case PackageOutcome::Missing:
        FUZZ_REQUIRE(!"an existing file read as missing");
        break;
    case PackageOutcome::Damaged:
        FUZZ_REQUIRE(noAddresses && s.PackageId.isEmpty() && s.LauncherName.isEmpty() &&
                     s.AddressTriple.isEmpty() && s.VersionListAddress.isEmpty());
        break;
    case PackageOutcome::VersionMismatch:
        FUZZ_REQUIRE(noAddresses && SplitFields(s.AddressTriple, u',').size() != 3);
        break;
    case PackageOutcome::Loaded:
        FUZZ_REQUIRE(s.AddressTriple == s.BannerAddress + u',' + s.AdAddress + u',' + s.NoticeAddress);
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir folder;
    static const QString path = folder.filePath("pack.db");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
        std::abort();
    file.close();
    try {
        CheckOutcome(LoadPackage(path));
    } catch (const Failure &) {
        // Unreadable, cut short or not hex: the installer reports these, as it should.
    }
    return 0;
}
