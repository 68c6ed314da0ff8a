#pragma once

#include "minisign.h"

#include <QByteArray>
#include <QString>

#include <atomic>

// A signed archive is the unsigned archive A (whose end record, with comment length 0, ends
// the file) with that comment length set to the length of a minisign signature of A and the
// signature appended as the ZIP comment. One file is hosted, and `minisign -V` can check A.

struct ArchiveVerdict {
    bool ok = false;
    QString keyId;          // the expected key's id in hex, empty when the key is malformed
    QString trustedComment; // the signer's trusted comment, when ok
    QString reason;         // why not, when not ok
};

// Verifies the archive at archivePath against a public key's base64 line, as pack.db holds it.
// Hashing a large archive takes seconds: once stop is set, the reading ends within a block and
// the verdict is a failure.
ArchiveVerdict VerifySignedArchive(const QString &archivePath, const QByteArray &publicKeyLine,
                                   const std::atomic<bool> *stop = nullptr);

// The message a signature of the unsigned archive at archivePath signs (the BLAKE2b-512 hash
// of the archive, or the archive itself for a legacy signature). Fails with a reason when the
// archive has a comment already (a signed one among them) or cannot be read.
std::optional<QByteArray> UnsignedArchiveMessage(const QString &archivePath, bool prehashed, QString *reason);

// Writes the archive with the signature text as its comment to outputPath (which may be the
// archive itself), replacing it only once all is written. Empty, or the reason it failed.
QString EmbedSignature(const QString &archivePath, const QByteArray &signatureText,
                       const QString &outputPath);
