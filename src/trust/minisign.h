#pragma once

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>

// The key and signature formats of the minisign tool (Ed25519), so that publishers may sign
// with minisign or with packtool and either can check the other's work.

inline constexpr int KeyIdSize = 8;

struct PublicKey {
    QByteArray id;  // KeyIdSize bytes
    QByteArray key; // Ed25519 public key, 32 bytes
};

struct SecretKey {
    QByteArray id;  // KeyIdSize bytes
    QByteArray key; // Ed25519 secret key in libsodium's 64-byte form
};

// The key id as minisign prints it: the 8 bytes read as a little-endian number, in upper-case hex.
QString KeyIdHex(const QByteArray &id);

// The base64 line "Ed" + key id + public key; blanks and line breaks around it are ignored.
std::optional<PublicKey> ParsePublicKeyLine(const QByteArray &line);
// A .pub file: an "untrusted comment:" line, then the base64 line.
std::optional<PublicKey> ParsePublicKeyFile(const QByteArray &text);
QByteArray PublicKeyLine(const PublicKey &key);
QByteArray PublicKeyFile(const PublicKey &key);

// A .key file as minisign writes it: without a password (`minisign -G -W`), or protected by one
// (scrypt), which is then needed to read it. Fails with a reason.
bool SecretKeyNeedsPassword(const QByteArray &text);
std::optional<SecretKey> ParseSecretKeyFile(const QByteArray &text, QString *reason,
                                            const QByteArray *password = nullptr);
QByteArray SecretKeyFile(const SecretKey &key);

// A new key pair with a random key id.
std::pair<PublicKey, SecretKey> GenerateKeyPair();

// The four lines of a signature.
struct Signature {
    bool prehashed = true; // "ED": the BLAKE2b-512 hash of the data is signed; "Ed": the data
    QByteArray keyId;      // KeyIdSize bytes
    QByteArray signature;  // 64 bytes over the data (or its hash)
    QByteArray trustedComment;
    QByteArray globalSignature; // 64 bytes over signature + trusted comment
};

// Exactly minisign's layout: four lines, each ended by "\n". Besides line breaks and tabs the
// text holds no control bytes, so it cannot carry binary records of the file it travels in.
std::optional<Signature> ParseSignature(const QByteArray &text, QString *reason);
QByteArray SignatureText(const Signature &signature, const QByteArray &untrustedComment);

// Signs a message that is already hashed (prehashed true) or the data itself.
Signature SignMessage(const SecretKey &key, const QByteArray &message, bool prehashed,
                      const QByteArray &trustedComment);

// Checks both signatures of a signature made by key; message is the BLAKE2b-512 hash of the
// data for a prehashed signature, else the data. Empty when it holds, else the reason.
QString CheckSignature(const PublicKey &key, const Signature &signature, const QByteArray &message);

// BLAKE2b-512, fed in parts.
class DataHash {
public:
    DataHash();
    ~DataHash();
    DataHash(const DataHash &) = delete;
    DataHash &operator=(const DataHash &) = delete;
    void Add(const char *data, qsizetype size);
    QByteArray Result();

private:
    struct State;
    std::unique_ptr<State> state_;
};
