#include "minisign.h"

#include <QDateTime>
#include <QtEndian>
#include <sodium.h>

namespace {

// Plain arrays, not QByteArray objects: other files' static data may be made with these.
constexpr char PrehashedAlgorithm[] = "ED";
constexpr char LegacyAlgorithm[] = "Ed";
constexpr char ChecksumAlgorithm[] = "B2";
constexpr char ScryptKdf[] = "Sc";
// minisign asks for 1 GiB; a key file asking for far more is refused rather than obeyed.
constexpr quint64 LargestKdfMemory = quint64(4) << 30;
constexpr char UntrustedPrefix[] = "untrusted comment: ";
constexpr char TrustedPrefix[] = "trusted comment: ";
constexpr qsizetype TrustedPrefixSize = sizeof TrustedPrefix - 1;
constexpr int PublicKeyDataSize = 2 + KeyIdSize + crypto_sign_PUBLICKEYBYTES;
constexpr int SignatureDataSize = 2 + KeyIdSize + crypto_sign_BYTES;
constexpr int SaltSize = 32;
constexpr int ChecksumSize = 32;
// algorithm, kdf, checksum algorithm, salt, opslimit, memlimit, key id, secret key, checksum
constexpr int SecretKeyDataSize =
    2 + 2 + 2 + SaltSize + 8 + 8 + KeyIdSize + crypto_sign_SECRETKEYBYTES + ChecksumSize;

void InitSodium()
{
    static const bool ready = sodium_init() >= 0;
    if (!ready)
        qFatal("libsodium cannot be initialised");
}

std::optional<QByteArray> FromBase64(const QByteArray &line)
{
    const QByteArray::FromBase64Result decoded =
        QByteArray::fromBase64Encoding(line, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return decoded.decoded;
}

QByteArray Blake2b(const QByteArray &data, int size)
{
    InitSodium();
    QByteArray out(size, Qt::Uninitialized);
    crypto_generichash(reinterpret_cast<unsigned char *>(out.data()), size_t(size),
                       reinterpret_cast<const unsigned char *>(data.constData()), size_t(data.size()),
                       nullptr, 0);
    return out;
}

QByteArray SecretKeyChecksum(const SecretKey &key)
{
    return Blake2b(QByteArray(LegacyAlgorithm) + key.id + key.key, ChecksumSize);
}

QByteArray Ed25519Sign(const QByteArray &secretKey, const QByteArray &message)
{
    InitSodium();
    QByteArray out(crypto_sign_BYTES, Qt::Uninitialized);
    crypto_sign_detached(reinterpret_cast<unsigned char *>(out.data()), nullptr,
                         reinterpret_cast<const unsigned char *>(message.constData()),
                         quint64(message.size()),
                         reinterpret_cast<const unsigned char *>(secretKey.constData()));
    return out;
}

bool Ed25519Verify(const QByteArray &publicKey, const QByteArray &signature, const QByteArray &message)
{
    InitSodium();
    return crypto_sign_verify_detached(reinterpret_cast<const unsigned char *>(signature.constData()),
                                       reinterpret_cast<const unsigned char *>(message.constData()),
                                       quint64(message.size()),
                                       reinterpret_cast<const unsigned char *>(publicKey.constData())) == 0;
}

quint64 Le64At(const QByteArray &bytes, qsizetype at)
{
    quint64 value = 0;
    for (qsizetype i = 7; i >= 0; --i)
        value = value << 8 | quint8(bytes.at(at + i));
    return value;
}

// The text's lines, each of which must have ended with "\n".
std::optional<QList<QByteArray>> EndedLines(const QByteArray &text)
{
    if (!text.endsWith('\n'))
        return std::nullopt;
    QList<QByteArray> lines = text.split('\n');
    lines.removeLast();
    return lines;
}

} // namespace

QString KeyIdHex(const QByteArray &id)
{
    if (id.size() != KeyIdSize)
        return {};
    return QStringLiteral("%1")
        .arg(qFromLittleEndian<quint64>(id.constData()), 16, 16, QChar(u'0'))
        .toUpper();
}

std::optional<PublicKey> ParsePublicKeyLine(const QByteArray &line)
{
    const std::optional<QByteArray> data = FromBase64(line.trimmed());
    if (!data || data->size() != PublicKeyDataSize || !data->startsWith(LegacyAlgorithm))
        return std::nullopt;
    return PublicKey{data->mid(2, KeyIdSize), data->mid(2 + KeyIdSize)};
}

std::optional<PublicKey> ParsePublicKeyFile(const QByteArray &text)
{
    QList<QByteArray> lines = text.split('\n');
    if (!lines.isEmpty() && lines.first().startsWith("untrusted comment:"))
        lines.removeFirst();
    return lines.isEmpty() ? std::nullopt : ParsePublicKeyLine(lines.first());
}

QByteArray PublicKeyLine(const PublicKey &key)
{
    return (QByteArray(LegacyAlgorithm) + key.id + key.key).toBase64();
}

QByteArray PublicKeyFile(const PublicKey &key)
{
    return QByteArray(UntrustedPrefix) + "minisign public key " + KeyIdHex(key.id).toLatin1() + '\n' +
           PublicKeyLine(key) + '\n';
}

bool SecretKeyNeedsPassword(const QByteArray &text)
{
    const QList<QByteArray> lines = text.split('\n');
    const std::optional<QByteArray> data = lines.size() < 2 ? std::nullopt : FromBase64(lines[1].trimmed());
    return data && data->size() == SecretKeyDataSize && data->mid(2, 2) == ScryptKdf;
}

std::optional<SecretKey> ParseSecretKeyFile(const QByteArray &text, QString *reason,
                                            const QByteArray *password)
{
    const auto fail = [reason](const char *why) {
        *reason = QString::fromLatin1(why);
        return std::nullopt;
    };
    const QList<QByteArray> lines = text.split('\n');
    if (lines.size() < 2 || !lines[0].startsWith("untrusted comment:"))
        return fail("not a minisign secret key file");
    const std::optional<QByteArray> data = FromBase64(lines[1].trimmed());
    if (!data || data->size() != SecretKeyDataSize || !data->startsWith(LegacyAlgorithm))
        return fail("not a minisign secret key file");
    const QByteArray kdf = data->mid(2, 2);
    if (kdf != QByteArray(2, '\0') && kdf != ScryptKdf)
        return fail("the secret key names an unknown password scheme");
    if (data->mid(4, 2) != ChecksumAlgorithm)
        return fail("the secret key names an unknown checksum");
    const int at = 6 + SaltSize + 8 + 8;
    QByteArray secret = data->mid(at); // key id, secret key, checksum
    if (kdf == ScryptKdf) {
        if (!password)
            return fail("the secret key is protected by a password");
        const quint64 opsLimit = Le64At(*data, 6 + SaltSize);
        const quint64 memLimit = Le64At(*data, 6 + SaltSize + 8);
        if (memLimit > LargestKdfMemory)
            return fail("the secret key's password scheme asks for more memory than is allowed");
        InitSodium();
        QByteArray stream(secret.size(), Qt::Uninitialized);
        if (crypto_pwhash_scryptsalsa208sha256(reinterpret_cast<unsigned char *>(stream.data()),
                                               quint64(stream.size()), password->constData(),
                                               quint64(password->size()),
                                               reinterpret_cast<const unsigned char *>(data->constData() + 6),
                                               opsLimit, size_t(memLimit)) != 0)
            return fail("the password cannot be applied (out of memory?)");
        for (qsizetype i = 0; i < secret.size(); ++i)
            secret[i] = char(secret[i] ^ stream[i]);
        sodium_memzero(stream.data(), size_t(stream.size()));
    }
    SecretKey key{secret.left(KeyIdSize), secret.mid(KeyIdSize, crypto_sign_SECRETKEYBYTES)};
    const QByteArray checksum = secret.mid(KeyIdSize + crypto_sign_SECRETKEYBYTES);
    if (checksum == SecretKeyChecksum(key))
        return key;
    // `minisign -G -W` leaves the checksum of a key without a password all zero.
    if (kdf != ScryptKdf && checksum == QByteArray(ChecksumSize, '\0'))
        return key;
    return fail(kdf == ScryptKdf ? "the password is wrong (or the key file is damaged)"
                                 : "the secret key's checksum does not match: the file is damaged");
}

QByteArray SecretKeyFile(const SecretKey &key)
{
    QByteArray data = QByteArray(LegacyAlgorithm) + QByteArray(2, '\0') + ChecksumAlgorithm;
    data += QByteArray(SaltSize + 8 + 8, '\0'); // no password: no salt or limits
    data += key.id + key.key + SecretKeyChecksum(key);
    return QByteArray(UntrustedPrefix) + "minisign secret key (no password)\n" + data.toBase64() + '\n';
}

std::pair<PublicKey, SecretKey> GenerateKeyPair()
{
    InitSodium();
    QByteArray publicKey(crypto_sign_PUBLICKEYBYTES, Qt::Uninitialized);
    QByteArray secretKey(crypto_sign_SECRETKEYBYTES, Qt::Uninitialized);
    QByteArray id(KeyIdSize, Qt::Uninitialized);
    crypto_sign_keypair(reinterpret_cast<unsigned char *>(publicKey.data()),
                        reinterpret_cast<unsigned char *>(secretKey.data()));
    randombytes_buf(id.data(), size_t(id.size()));
    return {PublicKey{id, publicKey}, SecretKey{id, secretKey}};
}

std::optional<Signature> ParseSignature(const QByteArray &text, QString *reason)
{
    const auto fail = [reason](const char *why) {
        *reason = QStringLiteral("the signature is malformed: ") + QString::fromLatin1(why);
        return std::nullopt;
    };
    for (const char c : text) {
        if (quint8(c) < 0x20 && c != '\n' && c != '\t')
            return fail("it holds control bytes");
    }
    const std::optional<QList<QByteArray>> lines = EndedLines(text);
    if (!lines || lines->size() != 4)
        return fail("it is not four lines, each ended by a line break");
    if (!(*lines)[0].startsWith(UntrustedPrefix))
        return fail("the first line is not an untrusted comment");
    if (!(*lines)[2].startsWith(TrustedPrefix))
        return fail("the third line is not a trusted comment");
    const std::optional<QByteArray> data = FromBase64((*lines)[1]);
    if (!data || data->size() != SignatureDataSize)
        return fail("the second line is not a signature");
    Signature signature;
    const QByteArray algorithm = data->left(2);
    if (algorithm != PrehashedAlgorithm && algorithm != LegacyAlgorithm)
        return fail("the signature names an unknown algorithm");
    signature.prehashed = algorithm == PrehashedAlgorithm;
    signature.keyId = data->mid(2, KeyIdSize);
    signature.signature = data->mid(2 + KeyIdSize);
    signature.trustedComment = (*lines)[2].mid(TrustedPrefixSize);
    const std::optional<QByteArray> global = FromBase64((*lines)[3]);
    if (!global || global->size() != crypto_sign_BYTES)
        return fail("the fourth line is not a signature");
    signature.globalSignature = *global;
    return signature;
}

QByteArray SignatureText(const Signature &signature, const QByteArray &untrustedComment)
{
    const QByteArray algorithm(signature.prehashed ? PrehashedAlgorithm : LegacyAlgorithm);
    return UntrustedPrefix + untrustedComment + '\n' +
           (algorithm + signature.keyId + signature.signature).toBase64() + '\n' + TrustedPrefix +
           signature.trustedComment + '\n' + signature.globalSignature.toBase64() + '\n';
}

Signature SignMessage(const SecretKey &key, const QByteArray &message, bool prehashed,
                      const QByteArray &trustedComment)
{
    Signature signature;
    signature.prehashed = prehashed;
    signature.keyId = key.id;
    signature.signature = Ed25519Sign(key.key, message);
    signature.trustedComment = trustedComment;
    signature.globalSignature = Ed25519Sign(key.key, signature.signature + trustedComment);
    return signature;
}

QString CheckSignature(const PublicKey &key, const Signature &signature, const QByteArray &message)
{
    if (signature.keyId != key.id) {
        return QStringLiteral("the archive is signed by key %1, not by key %2")
            .arg(KeyIdHex(signature.keyId), KeyIdHex(key.id));
    }
    if (!Ed25519Verify(key.key, signature.signature, message))
        return QStringLiteral("the signature does not match the archive: it was altered after signing");
    if (!Ed25519Verify(key.key, signature.globalSignature, signature.signature + signature.trustedComment))
        return QStringLiteral(
            "the trusted comment does not match its signature: it was altered after signing");
    return {};
}

struct DataHash::State {
    crypto_generichash_state hash;
};

DataHash::DataHash() : state_(std::make_unique<State>())
{
    InitSodium();
    crypto_generichash_init(&state_->hash, nullptr, 0, crypto_generichash_BYTES_MAX);
}

DataHash::~DataHash() = default;

void DataHash::Add(const char *data, qsizetype size)
{
    crypto_generichash_update(&state_->hash, reinterpret_cast<const unsigned char *>(data), quint64(size));
}

QByteArray DataHash::Result()
{
    QByteArray out(crypto_generichash_BYTES_MAX, Qt::Uninitialized);
    crypto_generichash_final(&state_->hash, reinterpret_cast<unsigned char *>(out.data()),
                             size_t(out.size()));
    return out;
}
