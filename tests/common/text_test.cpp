#include "text.h"

#include <gtest/gtest.h>

namespace {

struct SplitCase {
    const char16_t *text;
    QStringList fields;
};

TEST(SplitFields, KeepsEveryFieldBetweenSeparators)
{
    const SplitCase cases[] = {
        {u"", {}},
        {u"a", {"a"}},
        {u"`", {"", ""}},
        {u"a`b", {"a", "b"}},
        {u"a``b", {"a", "", "b"}},
        {u"a`", {"a", ""}},
        {u" a ` b ", {" a ", " b "}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(SplitFields(QString::fromUtf16(c.text), u'`'), c.fields)
            << QString::fromUtf16(c.text).toStdString();
}

TEST(SplitFields, ThirtyOneSeparatorsGiveThirtyTwoEmptyFields)
{
    QStringList fields = SplitFields(QString(31, u'`'), u'`');
    ASSERT_EQ(fields.size(), 32);
    for (const QString &f : fields)
        EXPECT_TRUE(f.isEmpty());
}

TEST(TrimControls, RemovesOnlyU0000ToU0020AtBothEnds)
{
    EXPECT_EQ(TrimControls(QString::fromUtf16(u"\u0000\t\r\n a b \u0020\u0001", 11)), "a b");
    EXPECT_EQ(TrimControls(QString::fromUtf16(u"\u3000x\u00a0")), QString::fromUtf16(u"\u3000x\u00a0"));
    EXPECT_EQ(TrimControls(" \n "), "");
}

TEST(FoldAsciiCase, FoldsOnlyAsciiCapitals)
{
    EXPECT_EQ(FoldAsciiCase(QString::fromUtf16(u"HTTP://ÄÖ Error")), QString::fromUtf16(u"http://ÄÖ error"));
}

TEST(DecodeGbk, DecodesChineseAndNeverFails)
{
    EXPECT_EQ(DecodeGbk("\xC4\xE3\xBA\xC3"), QString::fromUtf16(u"你好"));
    QString broken = DecodeGbk("a\xFF"
                               "b");
    EXPECT_TRUE(broken.startsWith('a'));
    EXPECT_TRUE(broken.endsWith('b'));
    EXPECT_EQ(EncodeGbk(QString::fromUtf16(u"你好")), QByteArray("\xC4\xE3\xBA\xC3"));
}

TEST(DecodeUtf8Strict, RejectsMalformedAndKeepsByteOrderMark)
{
    EXPECT_FALSE(DecodeUtf8Strict("a\xFF").has_value());
    EXPECT_FALSE(DecodeUtf8Strict("\xE4\xBD").has_value());
    EXPECT_EQ(DecodeUtf8Strict("\xEF\xBB\xBF"
                               "a"),
              QString(QChar(0xFEFF)) + u'a');
    EXPECT_EQ(DecodeUtf8Strict(QByteArray("a\0b", 3)), QString::fromUtf16(u"a\u0000b", 3));
    EXPECT_EQ(DecodeUtf8Strict(""), QString());
}

} // namespace
