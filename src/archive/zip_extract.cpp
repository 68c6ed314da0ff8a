#include "zip_extract.h"

#include "entry_names.h"
#include "zip_file.h"

void ExtractZipFile(const QString &ZipFileName, const QString &Path, int Encoding,
                    const TExtractOptions &Options)
{
    CheckCodePage(Encoding);
    TZipFile Zip;
    Zip.SetEncoding(Encoding);
    Zip.SetControl(Options.Control);
    Zip.Open(ZipFileName, zmRead);
    Zip.ExtractAll(Path, Options);
    Zip.Close();
}

quint64 DeclaredUnpackedSize(const QString &ZipFileName, const TExtractControl *Control)
{
    TZipFile Zip;
    Zip.SetControl(Control);
    Zip.Open(ZipFileName, zmRead);
    quint64 Total = 0;
    for (const TZipHeader &Item : Zip.Files())
        Total += Item.UncompressedSize;
    return Total;
}
