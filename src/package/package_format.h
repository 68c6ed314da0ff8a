#pragma once

#include <QtGlobal>
#include <array>

// The layout of pack.db, shared by the installer that reads packages and by packtool that
// writes them. A package written with another key decodes to noise and is refused as damaged.

inline constexpr std::array<quint8, 8> PackageKey = {0x6B, 0x1F, 0xA4, 0x3D, 0xC8, 0x52, 0x97, 0x0E};

// The customer-service number every copy names in its closing text.
inline constexpr char16_t ServiceNumber[] = u"2850013579";

inline constexpr char PackageFileName[] = "pack.db";

// The decoded text holds exactly FieldCount fields separated by FieldSeparator.
inline constexpr int FieldCount = 32;
inline constexpr char16_t FieldSeparator = u'`';
inline constexpr int PackageIdField = 2;
inline constexpr int CheckField = 13; // hex text like the payload; checked, never used
inline constexpr int LauncherNameField = 15;
inline constexpr int AddressTripleField = 21;
inline constexpr int VersionListAddressField = 30;
// The publisher's minisign public key (its base64 line), or empty for an unsigned product.
// Installers before signatures read every field but a few and use none of the others, so
// they load such a package as before and simply do not check archives.
inline constexpr int PublicKeyField = 31;

// AddressTriple holds BannerAddress, AdAddress and NoticeAddress in this order.
inline constexpr char16_t AddressSeparator = u',';
inline constexpr int AddressCount = 3;

// The trailer: the payload's length N as a signed 32-bit little-endian integer.
inline constexpr int TrailerSize = 4;
