#include "failure.h"
#include "package_codec.h"
#include "package_fixture.h"

#include <gtest/gtest.h>

namespace {

struct DecodeCase {
    const char *name;
    QByteArray payload;
    QByteArray plain;
};

// Names the case in test listings.
void PrintTo(const DecodeCase &c, std::ostream *os)
{
    *os << c.name;
}

class DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, GivesThePlainBytes)
{
    EXPECT_EQ(DecodePackageText(GetParam().payload), GetParam().plain);
}

// The key starts 6B 1F A4 3D C8 52 97 0E.
INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeTest,
    ::testing::Values(DecodeCase{"Empty", "", ""}, DecodeCase{"SingleCharacterIsIgnored", "6", ""},
                      DecodeCase{"OddLastCharacterIsIgnored", "6BG", QByteArray(1, '\0')},
                      DecodeCase{"UpperCase", "6B1FA43D", QByteArray(4, '\0')},
                      DecodeCase{"LowerCase", "6b1fa43d", QByteArray(4, '\0')},
                      DecodeCase{"MixedCase", "6b1Fa43D", QByteArray(4, '\0')},
                      DecodeCase{"KeyRepeatsAtByteEight", "6B1FA43DC852970E6B1F", QByteArray(10, '\0')},
                      DecodeCase{"XorWithKey", "0000FFFF", "\x6B\x1F\x5B\xC2"},
                      DecodeCase{"FixtureRoundTrip", EncodePayload("pid`field"), "pid`field"}),
    [](const auto &info) { return std::string(info.param.name); });

struct BadPairCase {
    const char *name;
    QByteArray payload;
    QString message;
};

void PrintTo(const BadPairCase &c, std::ostream *os)
{
    *os << c.name;
}

class BadPairTest : public ::testing::TestWithParam<BadPairCase> {};

TEST_P(BadPairTest, FailsWithTheConversionMessage)
{
    try {
        DecodePackageText(GetParam().payload);
        FAIL() << "no failure";
    } catch (const Failure &failure) {
        EXPECT_EQ(failure.Kind(), "EConvertError");
        EXPECT_EQ(failure.Message(), GetParam().message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadPairTest,
    ::testing::Values(BadPairCase{"Letter", "G1", "'$G1' is not a valid integer value"},
                      BadPairCase{"SecondPair", "001G", "'$1G' is not a valid integer value"},
                      BadPairCase{"Blank", " 1", "'$ 1' is not a valid integer value"},
                      BadPairCase{"Sign", "+1", "'$+1' is not a valid integer value"},
                      BadPairCase{"HexPrefix", "0x", "'$0x' is not a valid integer value"},
                      BadPairCase{"GbkCharacter", "\xC4\xE3",
                                  QStringLiteral("'$你' is not a valid integer value")}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(EncodePackageText, IsTheInverseOfDecoding)
{
    QByteArray plain;
    for (int i = 0; i < 256; ++i)
        plain.append(char(i));
    const QByteArray encoded = EncodePackageText(plain);
    EXPECT_EQ(encoded, EncodePayload(plain));
    EXPECT_EQ(DecodePackageText(encoded), plain);
}

} // namespace
