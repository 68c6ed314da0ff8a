#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

// The banner picture rules: the format is told by the leading bytes alone, only the first frame
// of a picture is taken, and an empty body makes the banner fully transparent.

// The image format named by the leading bytes ("gif", "bmp", "png", "tiff", "jpeg"), or an
// empty array when they match no known header (also for fewer than 4 bytes).
QByteArray PictureFormatOf(const QByteArray &data);

// The area the banner picture is stretched over, aspect ratio ignored.
inline constexpr QSize BannerSize(965, 477);

// The picture the banner shows after loading data over current: a transparent picture of
// current's size for empty data, else the decoded first frame. A picture wider or taller than
// the banner is decoded straight at the banner's size, as it would be shown; one that does not
// tell its size beforehand is decoded within Qt's image allocation limit. Throws Failure when
// the data is rejected or cannot be decoded.
QImage LoadBannerPicture(const QByteArray &data, const QImage &current);

// The size the picture's header gives, before it is fitted to the banner; invalid when the
// leading bytes name no format or the header does not tell.
QSize PictureSizeOf(const QByteArray &data);
