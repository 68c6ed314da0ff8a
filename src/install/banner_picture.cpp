#include "banner_picture.h"

#include "failure.h"

#include <QBuffer>
#include <QImageReader>

namespace {

struct Signature {
    QByteArrayView lead;
    const char *format;
};

// First match wins.
const Signature Signatures[] = {
    {"GIF", "gif"},
    {"BM", "bmp"},
    {"\x89PNG", "png"},
    {"II*", "tiff"},
    {"MM*", "tiff"},
    // The header every big-endian TIFF really has; "MM*" alone matches none.
    {QByteArrayView("MM\0*", 4), "tiff"},
    {"\xFF\xD8\xFF\xE0", "jpeg"},
    {"\xFF\xD8\xFF\xE1", "jpeg"},
};

// Reads data in the format its leading bytes named, never in one guessed from the content.
void Prepare(QImageReader &reader, QBuffer &buffer, const QByteArray &data, const QByteArray &format)
{
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    reader.setDevice(&buffer);
    reader.setFormat(format);
    reader.setDecideFormatFromContent(false);
}

} // namespace

QByteArray PictureFormatOf(const QByteArray &data)
{
    if (data.size() < 4)
        return {};
    for (const Signature &s : Signatures) {
        if (data.startsWith(s.lead))
            return s.format;
    }
    return {};
}

QImage LoadBannerPicture(const QByteArray &data, const QImage &current)
{
    if (data.isEmpty()) {
        QImage clear(current.size(), QImage::Format_ARGB32_Premultiplied);
        clear.fill(Qt::transparent);
        return clear;
    }
    const QByteArray format = PictureFormatOf(data);
    if (format.isEmpty())
        throw Failure("EInvalidGraphic", QStringLiteral("Unknown picture file extension"));

    QBuffer buffer;
    QImageReader reader;
    Prepare(reader, buffer, data, format);
    // Decoding at full size first would need memory for every pixel the header claims (9000 x
    // 8000 is beyond Qt's limit); the stretched banner shows no more than its own pixels.
    const QSize size = reader.size();
    if (size.isValid() && (size.width() > BannerSize.width() || size.height() > BannerSize.height()))
        reader.setScaledSize(BannerSize);
    QImage picture = reader.read(); // the first frame or page only
    if (picture.isNull())
        throw Failure("EInvalidGraphic", reader.errorString());
    return picture;
}

QSize PictureSizeOf(const QByteArray &data)
{
    const QByteArray format = PictureFormatOf(data);
    if (format.isEmpty())
        return {};
    QBuffer buffer;
    QImageReader reader;
    Prepare(reader, buffer, data, format);
    return reader.size();
}
