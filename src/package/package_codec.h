#pragma once

#include <QByteArray>
#include <QByteArrayView>

// The payload is one pair of hex digits per byte, each byte XORed with PackageKey[i mod 8].

// Decodes pairs of hex digits (either case); an odd last character is ignored. A pair that is
// not two hex digits fails with EConvertError "'$xy' is not a valid integer value".
QByteArray DecodePackageText(QByteArrayView payload);

// The inverse, for whoever writes packages: upper-case hex digits.
QByteArray EncodePackageText(QByteArrayView plain);
