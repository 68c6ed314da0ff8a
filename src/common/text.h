#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

// Text conventions shared by every subsystem: the field split of the data package and the
// service replies, trimming of control characters, ASCII-only case folding and the two
// decodings the program meets (GBK that never fails, strict UTF-8).

// Fields between separators. An empty text gives no fields; otherwise every separator ends
// one field and whatever follows the last one, possibly nothing, is the last field.
QStringList SplitFields(const QString &text, QChar separator);

// Removes the characters U+0000 to U+0020 from both ends.
QString TrimControls(const QString &text);

// Turns A to Z into a to z and changes nothing else.
QString FoldAsciiCase(const QString &text);

// GBK (code page 936); bytes that do not form a character become a substitute character.
// The conversions are the platform's (code_page_*.cpp).
QString DecodeGbk(QByteArrayView bytes);
QByteArray EncodeGbk(const QString &text);
// Whether the platform has a code page 936 conversion at all.
bool GbkAvailable();

// The machine's ANSI code page, in which data packages are written; GBK where the platform
// has no such setting.
QString DecodeAnsi(QByteArrayView bytes);
QByteArray EncodeAnsi(const QString &text);

// Strict UTF-8: nullopt for malformed input. A leading byte-order mark is kept as U+FEFF.
std::optional<QString> DecodeUtf8Strict(QByteArrayView bytes);
