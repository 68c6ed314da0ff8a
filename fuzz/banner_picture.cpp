// Banner recognition and decoding on anyone's reply body: the leading bytes decide the
// format, and what is decoded stays within the banner's size or Qt's image allocation limit.
#include "banner_picture.h"
#include "failure.h"
#include "fuzz_support.h"

#include <QCoreApplication>
#include <QImageReader>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // The GIF, JPEG and TIFF decoders are plugins, found through the application object.
    static QCoreApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QImage current = [] {
        QImage banner(BannerSize, QImage::Format_ARGB32_Premultiplied);
        banner.fill(Qt::red);
        return banner;
    }();
    const QByteArray body = InputBytes(data, size).toByteArray();
    const QByteArray format = PictureFormatOf(body);
    FUZZ_REQUIRE(body.size() >= 4 || format.isEmpty());
    FUZZ_REQUIRE(!format.isEmpty() || !PictureSizeOf(body).isValid());
    QImage picture;
    try {
        picture = LoadBannerPicture(body, current);
    } catch (const Failure &) {
        FUZZ_REQUIRE(!body.isEmpty());
        return 0;
    }
    FUZZ_REQUIRE(!picture.isNull());
    FUZZ_REQUIRE(!body.isEmpty() || picture.size() == current.size());
    FUZZ_REQUIRE(body.isEmpty() || !format.isEmpty());
    FUZZ_REQUIRE(picture.sizeInBytes() <= qsizetype(QImageReader::allocationLimit()) * 1024 * 1024);
    return 0;
}
