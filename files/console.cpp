#include "console.h"

#include "filename.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <QStringList>


#include <langinfo.h>

namespace torvale {

// The locale's character set. Plain ASCII (the C locale) is read as UTF-8,
// as most programs do, so that scripts without a locale still work.
QByteArray locale_charset()
{
    const QByteArray codeset(nl_langinfo(CODESET));
    if (codeset.isEmpty() || codeset == "ANSI_X3.4-1968" || codeset == "ASCII" || codeset == "US-ASCII")
        return "UTF-8";
    return codeset;
}

std::optional<QString> decode_argument(const QByteArray &bytes)
{
    QStringDecoder decoder(locale_charset().constData(), QStringDecoder::Flag::Stateless);
    if (!decoder.isValid())
        decoder = QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

QByteArray locale_bytes(const QString &text)
{
    QStringEncoder encoder(locale_charset().constData());
    if (!encoder.isValid())
        encoder = QStringEncoder(QStringEncoder::Utf8);
    return encoder.encode(text);
}

void print_line(FILE *stream, const QString &text)
{
    // Escaped on a terminal and in a pipe alike: one line is one line.
    const QByteArray bytes = locale_bytes(escaped_controls(text)) + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

void print_text(FILE *stream, const QString &text)
{
    for (const QString &line : text.split(QLatin1Char('\n')))
        print_line(stream, line);
}

QString shown_path(const QByteArray &path)
{
    // Folder by folder: a name in GBK among names in UTF-8 reads right.
    QStringList parts;
    for (const QByteArray &part : path.split('/'))
        parts << FileName::from_bytes(part).shown();
    return parts.join(QLatin1Char('/'));
}

} // namespace torvale
