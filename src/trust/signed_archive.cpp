#include "signed_archive.h"

#include <QFile>
#include <QSaveFile>
#include <QtEndian>

namespace {

constexpr qint64 EndRecordSize = 22;
constexpr qint64 CommentLengthAt = 20;
// A longer comment would hide the end record from the extractor.
constexpr qint64 LongestComment = EndRecordSearchSpan - EndRecordSize;
// A legacy signature signs the archive itself, which must then be held in memory whole.
constexpr qint64 LongestLegacyArchive = 256 << 20;
constexpr qint64 BlockSize = 1 << 20;

struct Layout {
    qint64 lengthField = -1; // position of the comment length of the end record that ends the file
    QByteArray comment;
};

// The end record the extractor takes, which is the highest "PK\5\6" in the file's tail; it
// counts only when its comment runs exactly to the end of the file.
std::optional<Layout> FindLayout(QFile &file, QString *reason)
{
    const qint64 size = file.size();
    const qint64 start = size - qMin<qint64>(size, EndRecordSearchSpan);
    QByteArray tail;
    if (!file.seek(start) || (tail = file.read(size - start)).size() != size - start) {
        *reason = QStringLiteral("cannot read the archive: ") + file.errorString();
        return std::nullopt;
    }
    const qsizetype at = tail.lastIndexOf(QByteArrayView("PK\x05\x06", 4));
    if (at < 0 || at + EndRecordSize > tail.size() ||
        qFromLittleEndian<quint16>(tail.constData() + at + CommentLengthAt) !=
            tail.size() - at - EndRecordSize) {
        *reason = QStringLiteral("the archive is not signed: no ZIP end record with a comment ends it");
        return std::nullopt;
    }
    return Layout{start + at + CommentLengthAt, tail.mid(at + EndRecordSize)};
}

// The unsigned archive's bytes, that is the bytes before the comment length and two zero bytes,
// hashed or whole. With a hash taken as the archive was written, only the bytes it lacks are read.
std::optional<QByteArray> MessageOf(QFile &file, qint64 lengthField, bool prehashed, QString *reason,
                                    const std::atomic<bool> *stop = nullptr,
                                    StreamedArchiveHash *written = nullptr)
{
    if (!prehashed && lengthField + 2 > LongestLegacyArchive) {
        *reason =
            QStringLiteral("a legacy signature (minisign -l) is accepted only for archives up to %1 MiB")
                .arg(LongestLegacyArchive >> 20);
        return std::nullopt;
    }
    DataHash *taken = prehashed && written ? written->Take(file.size(), lengthField) : nullptr;
    DataHash fresh;
    DataHash &hash = taken ? *taken : fresh;
    const qint64 from = taken ? written->Hashed() : 0;
    if (!file.seek(from)) {
        *reason = QStringLiteral("cannot read the archive: ") + file.errorString();
        return std::nullopt;
    }
    QByteArray whole;
    for (qint64 left = lengthField - from; left > 0;) {
        if (stop && stop->load(std::memory_order_relaxed)) {
            *reason = QStringLiteral("the check was stopped");
            return std::nullopt;
        }
        const QByteArray block = file.read(qMin(left, BlockSize));
        if (block.isEmpty()) {
            *reason = QStringLiteral("cannot read the archive: ") + file.errorString();
            return std::nullopt;
        }
        if (prehashed)
            hash.Add(block.constData(), block.size());
        else
            whole += block;
        left -= block.size();
    }
    const QByteArray noComment(2, '\0');
    if (!prehashed)
        return whole + noComment;
    hash.Add(noComment.constData(), noComment.size());
    return hash.Result();
}

std::optional<Layout> UnsignedLayout(QFile &file, QString *reason)
{
    if (!file.open(QIODevice::ReadOnly)) {
        *reason = QStringLiteral("cannot read \"%1\": %2").arg(file.fileName(), file.errorString());
        return std::nullopt;
    }
    QString notFound;
    std::optional<Layout> layout = FindLayout(file, &notFound);
    if (!layout) {
        *reason = QStringLiteral("\"%1\" is not a ZIP archive that its end record ends").arg(file.fileName());
        return std::nullopt;
    }
    if (!layout->comment.isEmpty()) {
        *reason = QStringLiteral("\"%1\" has a ZIP comment already (is it signed?); sign the archive as "
                                 "it was before any comment was added")
                      .arg(file.fileName());
        return std::nullopt;
    }
    return layout;
}

} // namespace

StreamedArchiveHash::~StreamedArchiveHash()
{
    Settle();
}

void StreamedArchiveHash::Settle()
{
    if (hashing_.valid())
        hashing_.get();
}

void StreamedArchiveHash::Written(qint64 position, QByteArrayView bytes)
{
    if (position == 0 && (hashed_ > 0 || !held_.isEmpty() || !inOrder_)) {
        Settle();
        hash_.emplace();
        hashed_ = 0;
        held_.clear();
        inOrder_ = true;
    }
    if (!inOrder_)
        return;
    if (position != hashed_ + held_.size()) {
        inOrder_ = false;
        held_ = QByteArray();
        return;
    }
    held_.append(bytes);
    if (held_.size() >= HashEvery + HeldBack) {
        QByteArray block = std::exchange(held_, held_.last(HeldBack));
        block.truncate(block.size() - HeldBack);
        hashed_ += block.size();
        Settle();
        hashing_ = std::async(std::launch::async,
                              [this, block = std::move(block)] { hash_->Add(block.constData(), block.size()); });
    }
}

bool StreamedArchiveHash::Covers(qint64 fileSize, qint64 messageEnd) const
{
    return inOrder_ && hashed_ + held_.size() == fileSize && hashed_ <= messageEnd;
}

DataHash *StreamedArchiveHash::Take(qint64 fileSize, qint64 messageEnd)
{
    if (!Covers(fileSize, messageEnd))
        return nullptr;
    Settle();
    inOrder_ = false;
    held_ = QByteArray();
    return &*hash_;
}

ArchiveVerdict VerifySignedArchive(const QString &archivePath, const QByteArray &publicKeyLine,
                                   const std::atomic<bool> *stop, StreamedArchiveHash *written)
{
    ArchiveVerdict verdict;
    const std::optional<PublicKey> key = ParsePublicKeyLine(publicKeyLine);
    if (!key) {
        verdict.reason = QStringLiteral("the public key is malformed");
        return verdict;
    }
    verdict.keyId = KeyIdHex(key->id);
    QFile file(archivePath);
    if (!file.open(QIODevice::ReadOnly)) {
        verdict.reason = QStringLiteral("cannot read the archive: ") + file.errorString();
        return verdict;
    }
    const std::optional<Layout> layout = FindLayout(file, &verdict.reason);
    if (!layout)
        return verdict;
    if (layout->comment.isEmpty()) {
        verdict.reason = QStringLiteral("the archive is not signed: its ZIP comment is empty");
        return verdict;
    }
    if (layout->comment.size() > LongestComment) {
        verdict.reason = QStringLiteral("the archive's comment is too long to be a signature");
        return verdict;
    }
    const std::optional<Signature> signature = ParseSignature(layout->comment, &verdict.reason);
    if (!signature)
        return verdict;
    const std::optional<QByteArray> message =
        MessageOf(file, layout->lengthField, signature->prehashed, &verdict.reason, stop, written);
    if (!message)
        return verdict;
    verdict.reason = CheckSignature(*key, *signature, *message);
    verdict.ok = verdict.reason.isEmpty();
    if (verdict.ok)
        verdict.trustedComment = QString::fromUtf8(signature->trustedComment);
    return verdict;
}

std::optional<QByteArray> UnsignedArchiveMessage(const QString &archivePath, bool prehashed, QString *reason)
{
    QFile file(archivePath);
    const std::optional<Layout> layout = UnsignedLayout(file, reason);
    if (!layout)
        return std::nullopt;
    return MessageOf(file, layout->lengthField, prehashed, reason);
}

QString EmbedSignature(const QString &archivePath, const QByteArray &signatureText, const QString &outputPath)
{
    QString reason;
    if (!ParseSignature(signatureText, &reason))
        return reason;
    if (signatureText.size() > LongestComment)
        return QStringLiteral("the signature is too long for a ZIP comment");
    QFile input(archivePath);
    const std::optional<Layout> layout = UnsignedLayout(input, &reason);
    if (!layout)
        return reason;
    // Copied to a new file that replaces the output path at the end, so that the output may
    // be the input itself.
    if (!input.seek(0))
        return QStringLiteral("cannot read \"%1\": %2").arg(archivePath, input.errorString());
    QSaveFile output(outputPath);
    if (!output.open(QIODevice::WriteOnly))
        return QStringLiteral("cannot write \"%1\": %2").arg(outputPath, output.errorString());
    for (qint64 left = layout->lengthField; left > 0;) {
        const QByteArray block = input.read(qMin(left, BlockSize));
        if (block.isEmpty())
            return QStringLiteral("cannot read \"%1\": %2").arg(archivePath, input.errorString());
        if (output.write(block) != block.size())
            return QStringLiteral("cannot write \"%1\": %2").arg(outputPath, output.errorString());
        left -= block.size();
    }
    // Windows renames nothing over a file that is still open.
    input.close();
    char length[2];
    qToLittleEndian<quint16>(quint16(signatureText.size()), length);
    if (output.write(length, 2) != 2 || output.write(signatureText) != signatureText.size() ||
        !output.commit())
        return QStringLiteral("cannot write \"%1\": %2").arg(outputPath, output.errorString());
    return {};
}
