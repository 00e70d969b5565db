#include "filename.h"

#include "charsetguess.h"

#include <algorithm>

namespace torvale {

namespace {

// The length of the UTF-8 sequence that the byte begins, judged by the byte alone.
int utf8_length(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

// UTF-8 text with every byte that is not part of a valid sequence as \xHH
// (and a backslash doubled, so that the two never read the same).
QString escaped_text(QByteArrayView bytes)
{
    QString text;
    qsizetype i = 0;
    while (i < bytes.size()) {
        const int length = utf8_length(static_cast<unsigned char>(bytes[i]));
        if (length > 0 && i + length <= bytes.size() && is_valid_utf8(bytes.sliced(i, length))) {
            text += bytes[i] == '\\' ? QStringLiteral("\\\\") : QString::fromUtf8(bytes.sliced(i, length));
            i += length;
        } else {
            text += QStringLiteral("\\x") + QString::number(static_cast<unsigned char>(bytes[i]), 16)
                                                .toUpper()
                                                .rightJustified(2, QLatin1Char('0'));
            ++i;
        }
    }
    return text;
}

} // namespace

FileName::FileName(const QByteArray &bytes, const QString &text, Coding coding) : bytes(bytes), coding(coding)
{
    const bool ascii = std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; });
    if (!ascii || (!text.isNull() && text != QLatin1String(bytes)))
        m_text = text;
}

FileName::Coding FileName::coding_of(QByteArrayView bytes)
{
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; }))
        return Coding::Utf8;
    const Guess guess = guess_charset(bytes);
    if (guess.kind == Guess::Kind::NotText)
        return Coding::Undecodable;
    switch (guess.charset) {
    case Charset::Ascii:
    case Charset::Utf8:
    case Charset::Utf8Bom:
        return Coding::Utf8;
    case Charset::Gbk:
    case Charset::Gb18030: {
        // A byte the code page maps to a private character (a lone 0xFF,
        // say) is no character anybody wrote: such a name shows its bytes.
        const QString text = decode(bytes, guess.charset, false);
        if (std::any_of(text.begin(), text.end(),
                        [](QChar c) { return c.category() == QChar::Other_PrivateUse; }))
            return Coding::Undecodable;
        return guess.charset == Charset::Gbk ? Coding::Gbk : Coding::Gb18030;
    }
    case Charset::Utf16Le: // a name is no file: its bytes do not begin a text
    case Charset::Utf16Be:
        break;
    }
    return Coding::Undecodable;
}

FileName FileName::from_bytes(const QByteArray &bytes)
{
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; }))
        return FileName(bytes, QString(), Coding::Utf8);
    const Coding coding = coding_of(bytes);
    return FileName(bytes, text_of(bytes, coding), coding);
}

QString FileName::text_of(QByteArrayView bytes, Coding coding)
{
    switch (coding) {
    case Coding::Utf8:
        return QString::fromUtf8(bytes);
    case Coding::Gbk:
        return decode(bytes, Charset::Gbk, false);
    case Coding::Gb18030:
        return decode(bytes, Charset::Gb18030, false);
    case Coding::Undecodable:
        break;
    }
    return escaped_text(bytes);
}

QString escaped_controls(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else if (c == QLatin1Char('\t'))
            out += QLatin1String("\\t");
        else if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0) || (u >= 0x202A && u <= 0x202E) ||
                 (u >= 0x2066 && u <= 0x2069) || u == 0x200E || u == 0x200F)
            out += u < 0x100 ? QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'))
                             : QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

QString FileName::shown() const
{
    // (An undecodable name's text has its backslashes doubled already.)
    const QString name = escaped_controls(
        coding == Coding::Undecodable ? text()
                                      : QString(text()).replace(QLatin1Char('\\'), QLatin1String("\\\\")));
    if (coding == Coding::Gbk || coding == Coding::Gb18030)
        return name + QStringLiteral("〔%1 文件名〕")
                          .arg(coding == Coding::Gbk ? QStringLiteral("GBK") : QStringLiteral("GB18030"));
    return name;
}

bool is_plain_name(QByteArrayView bytes)
{
    return !bytes.isEmpty() && bytes != "." && bytes != ".." && !bytes.contains('/') && !bytes.contains('\0');
}

QByteArray lower_case_bytes(QByteArrayView bytes, FileName::Coding coding)
{
    if (coding == FileName::Coding::Utf8)
        return QString::fromUtf8(bytes).toLower().toUtf8();
    // Step over two-byte characters whole: their second byte may look like
    // an ASCII letter, and lower-casing it would make another character. (A
    // four-byte GB18030 character is two such steps: lead, digit, lead, digit.)
    QByteArray lowered(bytes.data(), bytes.size());
    for (qsizetype i = 0; i < lowered.size(); ++i) {
        const auto c = static_cast<unsigned char>(lowered[i]);
        if (is_gbk_lead(c))
            ++i;
        else if (c >= 'A' && c <= 'Z')
            lowered[i] = char(c + ('a' - 'A'));
    }
    return lowered;
}

QByteArray extension_bytes(const FileName &name)
{
    // A dot byte is always a character of its own, in UTF-8 as in GBK.
    const qsizetype dot = name.bytes.indexOf('.');
    const QByteArrayView extension =
        dot < 0 ? QByteArrayView(name.bytes) : QByteArrayView(name.bytes).sliced(dot + 1);
    return lower_case_bytes(extension, name.coding);
}

} // namespace torvale
