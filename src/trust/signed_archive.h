#pragma once

#include "minisign.h"
#include "zip_header.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <atomic>
#include <future>
#include <optional>

// A signed archive is the unsigned archive A (whose end record, with comment length 0, ends
// the file) with that comment length set to the length of a minisign signature of A and the
// signature appended as the ZIP comment. One file is hosted, and `minisign -V` can check A.

struct ArchiveVerdict {
    bool ok = false;
    QString keyId;          // the expected key's id in hex, empty when the key is malformed
    QString trustedComment; // the signer's trusted comment, when ok
    QString reason;         // why not, when not ok
};

// The hash of an archive taken while it is written (downloaded), so that checking its
// signature afterwards reads only the archive's last bytes again: hashing a large archive
// after its download takes seconds, while the download itself leaves time to spare. What is
// checked then is what was written. Writes come in order; one at 0 starts over (a download
// that begins its body again), and any other jump gives the hash up, so that the check reads
// the whole archive as without it. The hashing runs beside the writer, a mebibyte at a time,
// so that a fast download does not wait for it.
class StreamedArchiveHash {
public:
    StreamedArchiveHash() = default;
    ~StreamedArchiveHash();
    StreamedArchiveHash(const StreamedArchiveHash &) = delete;
    StreamedArchiveHash &operator=(const StreamedArchiveHash &) = delete;

    void Written(qint64 position, QByteArrayView bytes);

    // Whether all that was written, in order, is the file of fileSize bytes, and the bytes
    // hashed lie within its message, which runs on to messageEnd.
    bool Covers(qint64 fileSize, qint64 messageEnd) const;
    // The hash of the first Hashed() bytes when it covers the file; else null. It can be
    // taken once.
    DataHash *Take(qint64 fileSize, qint64 messageEnd);
    qint64 Hashed() const { return hashed_; }

private:
    // The last bytes written are held back: the signature may begin anywhere in them, and
    // it is no part of what it signs.
    static constexpr qsizetype HeldBack = EndRecordSearchSpan;
    static constexpr qsizetype HashEvery = 1 << 20;

    // Waits for the block being hashed.
    void Settle();

    std::optional<DataHash> hash_{std::in_place}; // of the first hashed_ bytes, once settled
    std::future<void> hashing_;    // the last block handed to it
    qint64 hashed_ = 0;
    QByteArray held_; // the bytes written after those
    bool inOrder_ = true;
};

// Verifies the archive at archivePath against a public key's base64 line, as pack.db holds it.
// Hashing a large archive takes seconds: once stop is set, the reading ends within a block and
// the verdict is a failure. A hash taken as the archive was written, when it covers the
// archive, spares reading all but its end; the check uses it up.
ArchiveVerdict VerifySignedArchive(const QString &archivePath, const QByteArray &publicKeyLine,
                                   const std::atomic<bool> *stop = nullptr,
                                   StreamedArchiveHash *written = nullptr);

// The message a signature of the unsigned archive at archivePath signs (the BLAKE2b-512 hash
// of the archive, or the archive itself for a legacy signature). Fails with a reason when the
// archive has a comment already (a signed one among them) or cannot be read.
std::optional<QByteArray> UnsignedArchiveMessage(const QString &archivePath, bool prehashed, QString *reason);

// Writes the archive with the signature text as its comment to outputPath (which may be the
// archive itself), replacing it only once all is written. Empty, or the reason it failed.
QString EmbedSignature(const QString &archivePath, const QByteArray &signatureText,
                       const QString &outputPath);
