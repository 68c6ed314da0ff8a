#include "entry_names.h"

#include "failure.h"
#include "text.h"

#include <QStringDecoder>

namespace {

constexpr int CodePageGbk = 936;
constexpr int CodePageUtf8 = 65001;

QString DecodeLenientUtf8(QByteArrayView Bytes)
{
    QStringDecoder Decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::ConvertInitialBom | QStringDecoder::Flag::Stateless);
    return Decoder.decode(Bytes);
}

bool HoldsInvalidCharacter(const QString &Text)
{
    for (const QChar C : Text) {
        if (C.unicode() < 0x20 || C == u'"' || C == u'<' || C == u'>' || C == u'|')
            return true;
    }
    return false;
}

bool IsRooted(const QString &Name)
{
    if (Name.startsWith(u'/') || Name.startsWith(u'\\'))
        return true;
    return Name.size() >= 2 && Name[1] == u':' && Name[0].unicode() < 0x80 && Name[0].isLetter();
}

} // namespace

QString DecodeUtf8Name(QByteArrayView Bytes)
{
    std::optional<QString> Name = DecodeUtf8Strict(Bytes);
    if (!Name)
        throw Failure("EEncodingError",
                      "No mapping for the Unicode character exists in the target multi-byte code page");
    return *Name;
}

void CheckCodePage(int CodePage)
{
    if (CodePage != CodePageGbk && CodePage != CodePageUtf8)
        throw Failure("EEncodingError", QString("Code page %1 is not supported").arg(CodePage));
}

QString DecodeEntryName(const QByteArray &Bytes, bool Utf8, int CodePage)
{
    if (Utf8)
        return DecodeUtf8Name(Bytes);
    return CodePage == CodePageUtf8 ? DecodeLenientUtf8(Bytes) : DecodeGbk(Bytes);
}

TEntryTarget ResolveEntryTarget(const QString &Destination, const QString &Name, bool CreateSubdirs)
{
    if (HoldsInvalidCharacter(Destination) || HoldsInvalidCharacter(Name))
        throw Failure("EArgumentException", "Invalid characters in path");
    const auto Illegal = [&Name] {
        return Failure("EZipException", QString("Illegal path in archive: \"%1\"").arg(Name));
    };
    if (IsRooted(Name))
        throw Illegal();

    TEntryTarget Target;
    QString Unified = Name;
    Unified.replace(u'\\', u'/');
    Target.IsFolder = Unified.endsWith(u'/') ||
                      (Unified.isEmpty() && (Destination.endsWith(u'/') || Destination.endsWith(u'\\')));
    const QStringList Segments = Unified.split(u'/', Qt::SkipEmptyParts);
    for (const QString &Level : Segments) {
        if (Level == u"..") {
            if (Target.Levels.isEmpty())
                throw Illegal();
            Target.Levels.removeLast();
        } else if (Level != u".") {
            Target.Levels.append(Level);
        }
    }
    if (!CreateSubdirs && !Target.Levels.isEmpty())
        Target.Levels = QStringList{Target.Levels.last()};
    // A name ending in "." or ".." ends at a folder, which no file can replace.
    const bool EndsAtFolder = !Segments.isEmpty() && (Segments.last() == u"." || Segments.last() == u"..");
    if (!Target.IsFolder && !EndsAtFolder && !Target.Levels.isEmpty())
        Target.FileName = Target.Levels.takeLast();
    Target.Folder = Target.Levels.join(u'/');
    return Target;
}
