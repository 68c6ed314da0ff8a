#pragma once

#include "signed_archive.h"

#include <QString>

// What the install flow shows when a package carries a public key and the downloaded archive
// is unsigned, signed by another key or altered: the archive is deleted and nothing of it is
// unpacked or started.
inline constexpr char16_t TamperedArchiveNotice[] =
    u"安装包校验失败，可能已被篡改，请点击上方图片进入网站联系客服反馈处理";

// One line for the run log: the key id and the outcome with its trusted comment or reason.
QString ArchiveVerdictText(const ArchiveVerdict &verdict);
