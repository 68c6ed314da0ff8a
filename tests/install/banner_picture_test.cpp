#include "banner_picture.h"

#include "failure.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QtEndian>
#include <gtest/gtest.h>
#include <zlib.h>

namespace {

QByteArray Encoded(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, format)) << format;
    return bytes;
}

QImage Filled(int width, int height, Qt::GlobalColor color)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

struct LeadCase {
    QByteArray lead;
    const char *format;
};

class LeadingBytes : public testing::TestWithParam<LeadCase> {};

TEST_P(LeadingBytes, NameTheFormat)
{
    EXPECT_EQ(PictureFormatOf(GetParam().lead), QByteArray(GetParam().format));
}

INSTANTIATE_TEST_SUITE_P(
    Table, LeadingBytes,
    testing::Values(LeadCase{"GIF8", "gif"}, LeadCase{QByteArray("BM\0\0", 4), "bmp"},
                    LeadCase{"\x89PNG", "png"}, LeadCase{QByteArray("II*\0", 4), "tiff"},
                    LeadCase{QByteArray("MM*\0", 4), "tiff"}, LeadCase{"\xFF\xD8\xFF\xE0", "jpeg"},
                    LeadCase{"\xFF\xD8\xFF\xE1", "jpeg"}, LeadCase{"\xFF\xD8\xFF\xDB", ""},
                    LeadCase{"GIF", ""}, // fewer than 4 bytes
                    LeadCase{"BM", ""}, LeadCase{"<htm", ""}, LeadCase{QByteArray("MM\0*", 4), "tiff"}));

TEST(BannerPicture, EmptyDataMakesTheBannerTransparentAtItsSize)
{
    const QImage current = Filled(965, 477, Qt::red);
    const QImage clear = LoadBannerPicture({}, current);
    EXPECT_EQ(clear.size(), current.size());
    EXPECT_TRUE(clear.hasAlphaChannel());
    EXPECT_EQ(qAlpha(clear.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(clear.pixel(964, 476)), 0);
}

TEST(BannerPicture, RecognisedPicturesReplaceTheBannerSizeIncluded)
{
    const QImage current = Filled(965, 477, Qt::red);
    for (const char *format : {"png", "bmp", "tiff", "jpeg"}) {
        const QImage picture = LoadBannerPicture(Encoded(Filled(40, 20, Qt::blue), format), current);
        EXPECT_EQ(picture.size(), QSize(40, 20)) << format;
        EXPECT_GE(qBlue(picture.pixel(10, 10)), 250) << format; // JPEG is lossy
    }
}

TEST(BannerPicture, BigEndianTiffWithItsRealHeaderIsShown)
{
    // A 4 x 3 blue picture as ImageMagick writes it with tiff:endian=msb: "MM", 0, 42.
    const QByteArray tiff = QByteArray::fromHex(
        "4d4d002a0000002c0000ff0000ff0000ff0000ff0000ff0000ff0000ff0000ff0000ff0000ff0000ff0000ff000f0100"
        "000300000001000400000101000300000001000300000102000300000003000000e60103000300000001000100000106"
        "00030000000100020000010a000300000001000100000111000400000001000000080112000300000001000100000115"
        "00030000000100030000011600030000000100030000011700040000000100000024011c000300000001000100000129"
        "00030000000200000001013e0005000000020000011c013f000500000006000000ec000000000008000800080051eb85"
        "0080000000a8f5c302000000004ccccd01000000004ccccd00800000004ccccd0200000000f5c28f1000000000a01a37"
        "02000000000a872b00200000");
    const QImage picture = LoadBannerPicture(tiff, QImage());
    ASSERT_EQ(picture.size(), QSize(4, 3));
    EXPECT_EQ(QColor(picture.pixel(2, 1)), QColor(Qt::blue));
}

TEST(BannerPicture, OnlyTheFirstGifFrameIsTaken)
{
    // Two 4 x 3 frames: red, then blue.
    static const unsigned char twoFrames[] = {
        0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x04, 0x00, 0x03, 0x00, 0xf0, 0x00, 0x00, 0xff, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x21, 0xf9, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x21, 0xff, 0x0b, 0x4e, 0x45,
        0x54, 0x53, 0x43, 0x41, 0x50, 0x45, 0x32, 0x2e, 0x30, 0x03, 0x01, 0x00, 0x00, 0x00, 0x2c, 0x00,
        0x00, 0x00, 0x00, 0x04, 0x00, 0x03, 0x00, 0x00, 0x02, 0x03, 0x84, 0x8f, 0x56, 0x00, 0x21, 0xf9,
        0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2c, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x03, 0x00, 0x80,
        0x00, 0x00, 0xff, 0x00, 0x00, 0x00, 0x02, 0x03, 0x84, 0x8f, 0x56, 0x00, 0x3b};
    const QImage picture =
        LoadBannerPicture(QByteArray(reinterpret_cast<const char *>(twoFrames), sizeof twoFrames), QImage());
    ASSERT_EQ(picture.size(), QSize(4, 3));
    EXPECT_EQ(QColor(picture.pixel(1, 1)), QColor(Qt::red));
}

// Decides by the leading bytes, not by what the data really holds.
TEST(BannerPicture, RejectsWhatTheLeadingBytesDoNotName)
{
    QByteArray jpeg = Encoded(Filled(8, 8, Qt::green), "jpeg");
    ASSERT_TRUE(jpeg.startsWith("\xFF\xD8\xFF\xE0"));
    // Drop the JFIF segment: still a decodable JPEG, now starting FF D8 FF DB.
    const int app0Length = (uchar(jpeg[4]) << 8) | uchar(jpeg[5]);
    jpeg.remove(2, 2 + app0Length);
    ASSERT_TRUE(jpeg.startsWith("\xFF\xD8\xFF\xDB"));
    ASSERT_FALSE(QImage::fromData(jpeg, "jpeg").isNull());
    EXPECT_THROW(LoadBannerPicture(jpeg, QImage()), Failure);

    EXPECT_THROW(LoadBannerPicture("BM", QImage()), Failure);
    EXPECT_THROW(LoadBannerPicture("<html>not a picture</html>", QImage()), Failure);
}

TEST(BannerPicture, TheFormatIsForcedByTheLeadingBytes)
{
    // A PNG behind "BM": named BMP, and a BMP it is not.
    QByteArray png = Encoded(Filled(8, 8, Qt::green), "png");
    EXPECT_THROW(LoadBannerPicture("BM" + png, QImage()), Failure);
    EXPECT_THROW(LoadBannerPicture(png.left(60), QImage()), Failure); // cut short
}

TEST(BannerPicture, HugePicturesAreDecodedAtTheBannerSize)
{
    const QImage wide = Filled(32768, 4, Qt::blue);
    const QImage picture = LoadBannerPicture(Encoded(wide, "png"), QImage());
    EXPECT_EQ(picture.size(), BannerSize);
    EXPECT_EQ(QColor(picture.pixel(480, 240)), QColor(Qt::blue));
}

// An 8-bit RGB PNG, left half red and right half blue, written row by row so that the test
// never holds the whole picture: a decoder that does must allocate width x height x 4 bytes.
QByteArray HalvesPng(int width, int height)
{
    const auto chunk = [](const char *type, const QByteArray &data) {
        QByteArray bytes(4, 0);
        qToBigEndian<quint32>(quint32(data.size()), bytes.data());
        const QByteArray body = QByteArray(type) + data;
        QByteArray crc(4, 0);
        qToBigEndian<quint32>(quint32(crc32(0, reinterpret_cast<const Bytef *>(body.constData()),
                                            uInt(body.size()))),
                              crc.data());
        return bytes + body + crc;
    };
    QByteArray header(13, 0);
    qToBigEndian<quint32>(quint32(width), header.data());
    qToBigEndian<quint32>(quint32(height), header.data() + 4);
    header[8] = 8; // bits per sample
    header[9] = 2; // RGB

    QByteArray row(1 + 3 * width, 0); // filter type 0, then the pixels
    for (int x = 0; x < width; ++x)
        row[1 + 3 * x + (x < width / 2 ? 0 : 2)] = char(0xFF);
    z_stream stream{};
    EXPECT_EQ(deflateInit(&stream, Z_BEST_SPEED), Z_OK);
    QByteArray compressed;
    char out[65536];
    for (int y = 0; y < height; ++y) {
        stream.next_in = reinterpret_cast<Bytef *>(row.data());
        stream.avail_in = uInt(row.size());
        const int flush = y + 1 == height ? Z_FINISH : Z_NO_FLUSH;
        do {
            stream.next_out = reinterpret_cast<Bytef *>(out);
            stream.avail_out = sizeof out;
            deflate(&stream, flush);
            compressed.append(out, qsizetype(sizeof out - stream.avail_out));
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    return "\x89PNG\r\n\x1a\n" + chunk("IHDR", header) + chunk("IDAT", compressed) + chunk("IEND", {});
}

// Decoded at full size, 9000 x 8000 would take 288 MB, more than Qt allows one image.
TEST(BannerPicture, LargeValidPictureIsShownAtTheBannerSize)
{
    const QImage picture = LoadBannerPicture(HalvesPng(9000, 8000), QImage());
    ASSERT_EQ(picture.size(), BannerSize);
    EXPECT_EQ(QColor(picture.pixel(100, 240)), QColor(Qt::red));
    EXPECT_EQ(QColor(picture.pixel(860, 240)), QColor(Qt::blue));
}

TEST(BannerPicture, PicturesWithinTheBannerKeepTheirSize)
{
    for (const QSize size : {QSize(965, 477), QSize(965, 100), QSize(10, 477)}) {
        const QImage picture = LoadBannerPicture(Encoded(Filled(size.width(), size.height(), Qt::blue), "png"),
                                                 QImage());
        EXPECT_EQ(picture.size(), size);
    }
    EXPECT_EQ(LoadBannerPicture(Encoded(Filled(966, 10, Qt::blue), "png"), QImage()).size(), BannerSize);
    EXPECT_EQ(LoadBannerPicture(Encoded(Filled(10, 478, Qt::blue), "bmp"), QImage()).size(), BannerSize);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv); // for the image format plugins
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
