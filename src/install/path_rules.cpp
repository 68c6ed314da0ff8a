#include "path_rules.h"

namespace {

bool IsBlank(QChar c)
{
    return c.unicode() >= 0x01 && c.unicode() <= 0x20;
}

bool IsSeparator(QChar c)
{
    return c == u'\\' || c == u':' || c == u'/';
}

} // namespace

QString LastPathSegment(const QString &address)
{
    const qsizetype nul = address.indexOf(QChar(0));
    const QString text = nul < 0 ? address : address.left(nul);
    const qsizetype n = text.size();
    qsizetype i = 0;
    auto skipBlanks = [&] {
        while (i < n && IsBlank(text[i]))
            ++i;
    };
    QString last;
    skipBlanks();
    while (i < n) {
        QString segment;
        if (text[i] == u'"') {
            ++i;
            while (i < n) {
                if (text[i] == u'"') {
                    if (i + 1 < n && text[i + 1] == u'"') {
                        segment += u'"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                segment += text[i++];
            }
        } else {
            const qsizetype start = i;
            while (i < n && text[i] != u'/' && !IsBlank(text[i]))
                ++i;
            segment = text.mid(start, i - start);
        }
        last = segment;
        skipBlanks();
        if (i < n && text[i] == u'/') {
            if (i == n - 1)
                last.clear();
            ++i;
            skipBlanks();
        }
    }
    return last;
}

QString FileNameOf(const QString &path)
{
    for (qsizetype i = path.size() - 1; i >= 0; --i) {
        if (IsSeparator(path[i]))
            return path.mid(i + 1);
    }
    return path;
}

QString BaseNameOf(const QString &fileName)
{
    for (qsizetype i = fileName.size() - 1; i >= 0; --i) {
        if (fileName[i] == u'.')
            return fileName.left(i);
        if (IsSeparator(fileName[i]))
            break;
    }
    return fileName;
}

QString SetupProgramPath(const QString &unpackFolder, const QString &launcherName)
{
    return unpackFolder + u'/' + QString(launcherName).replace(u'\\', u'/');
}
