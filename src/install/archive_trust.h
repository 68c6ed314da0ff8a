#pragma once

#include "signed_archive.h"

#include <QString>

// What the install flow shows when a package carries a public key and the downloaded archive
// is unsigned, signed by another key or altered: the archive is deleted and nothing of it is
// unpacked or started.
inline constexpr char16_t TamperedArchiveNotice[] =
    u"安装包校验失败，可能已被篡改，请点击上方图片进入网站联系客服反馈处理";

// The step of the install flow after the archive is in place: without a key (an unsigned
// product) the archive is accepted as it is; with one it must verify, and an archive that does
// not is deleted at once. The verdict (key id, trusted comment or reason) is for the run log;
// it stays empty without a key. A stop ends the check as a failure. The hash taken during the
// download, when given, spares reading the archive again.
bool AcceptDownloadedArchive(const QString &archivePath, const QString &publicKey, ArchiveVerdict &verdict,
                             const std::atomic<bool> *stop = nullptr,
                             StreamedArchiveHash *written = nullptr);

// One line for the run log: the key id and the outcome with its trusted comment or reason.
QString ArchiveVerdictText(const ArchiveVerdict &verdict);
