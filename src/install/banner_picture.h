#pragma once

#include <QByteArray>
#include <QImage>

// The banner picture rules: the format is told by the leading bytes alone, only the first frame
// of a picture is taken, and an empty body makes the banner fully transparent.

// The image format named by the leading bytes ("gif", "bmp", "png", "tiff", "jpeg"), or an
// empty array when they match no known header (also for fewer than 4 bytes).
QByteArray PictureFormatOf(const QByteArray &data);

// Sides of a decoded picture are kept within this many pixels, scaled down proportionally.
constexpr int LargestPictureSide = 16384;

// The picture the banner shows after loading data over current: a transparent picture of
// current's size for empty data, else the decoded first frame. Throws Failure when the data is
// rejected or cannot be decoded.
QImage LoadBannerPicture(const QByteArray &data, const QImage &current);
