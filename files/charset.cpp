#include "charset.h"

#include "gbktable.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace torvale {

namespace {

const QByteArrayView kUtf8Bom("\xEF\xBB\xBF", 3);

} // namespace

bool character_sets_available(QString *why)
{
    const QString known = QStringLiteral("中文＜宋体");
    const QByteArray bytes("\xD6\xD0\xCE\xC4\xA3\xBC\xCB\xCE\xCC\xE5");
    QStringEncoder encoder("GBK", QStringEncoder::Flag::Stateless);
    QStringDecoder decoder("GBK", QStringDecoder::Flag::Stateless);
    // Asked of the codec, not of the tables made from it: those are made
    // only when a GBK name or file turns up.
    if (encoder.isValid() && decoder.isValid() && QByteArray(encoder.encode(known)) == bytes &&
        QString(decoder.decode(bytes)) == known)
        return true;
    *why = QStringLiteral("这个系统的 Qt 不支持 GBK 字符集（Qt 编译时没有带 ICU），无法读写中文文本文件，"
                          "所以不能运行。请安装 Debian 的 Qt 6 软件包（libqt6core6）。");
    return false;
}

bool is_valid_utf8(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const auto *end = p + bytes.size();
    while (p < end) {
        p = skip_ascii_blocks(p, end);
        if (p == end)
            break;
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int length;
        unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0)
                low = 0xA0; // overlong
            else if (c == 0xED)
                high = 0x9F; // surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0)
                low = 0x90;
            else if (c == 0xF4)
                high = 0x8F;
        } else {
            return false;
        }
        if (end - p < length)
            return false;
        if (p[1] < low || p[1] > high)
            return false;
        for (int i = 2; i < length; ++i) {
            if (p[i] < 0x80 || p[i] > 0xBF)
                return false;
        }
        p += length;
    }
    return true;
}

QString charset_name(Charset charset)
{
    switch (charset) {
    case Charset::Ascii:
        return QStringLiteral("ASCII");
    case Charset::Utf8:
    case Charset::Utf8Bom:
        return QStringLiteral("UTF-8");
    case Charset::Gbk:
        return QStringLiteral("GBK");
    case Charset::Gb18030:
        return QStringLiteral("GB18030");
    case Charset::Utf16Le:
    case Charset::Utf16Be:
        break;
    }
    return QStringLiteral("UTF-16");
}

QByteArrayView byte_order_mark(Charset charset)
{
    switch (charset) {
    case Charset::Utf8Bom:
        return kUtf8Bom;
    case Charset::Utf16Le:
        return QByteArrayView("\xFF\xFE", 2);
    case Charset::Utf16Be:
        return QByteArrayView("\xFE\xFF", 2);
    default:
        return {};
    }
}

QString decode(QByteArrayView bytes, Charset charset, bool start)
{
    const QByteArrayView bom = byte_order_mark(charset);
    if (start && !bom.isEmpty() && bytes.startsWith(bom))
        bytes = bytes.sliced(bom.size());
    // Whatever follows is text, a further U+FEFF included: the decoders
    // must not swallow it as a byte-order mark.
    constexpr auto kFlags = QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom;
    switch (charset) {
    case Charset::Ascii:
    case Charset::Gbk:
        return GbkTable::instance().decode(bytes); // ASCII reads the same
    case Charset::Gb18030: {
        QStringDecoder decoder("GB18030", kFlags);
        return decoder.decode(bytes);
    }
    case Charset::Utf16Le:
    case Charset::Utf16Be: {
        QStringDecoder decoder(
            charset == Charset::Utf16Le ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE, kFlags);
        return decoder.decode(bytes);
    }
    case Charset::Utf8:
    case Charset::Utf8Bom:
        break;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, kFlags);
    return decoder.decode(bytes);
}

namespace {

std::optional<QByteArray> encode_with(QStringEncoder &&encoder, QStringView text)
{
    QByteArray bytes = encoder.encode(text);
    if (encoder.hasError())
        return std::nullopt;
    return bytes;
}

} // namespace

std::optional<QByteArray> encode(QStringView text, Charset charset)
{
    // A lone surrogate is no character: no character set holds it (Qt's
    // UTF-16 encoder would copy it, and match half of a pair with it).
    if (!text.isValidUtf16())
        return std::nullopt;
    constexpr auto kFlags = QStringEncoder::Flag::Stateless;
    switch (charset) {
    case Charset::Ascii:
        if (std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x80; }))
            return std::nullopt;
        return text.toLatin1();
    case Charset::Utf8:
    case Charset::Utf8Bom:
        return encode_with(QStringEncoder(QStringEncoder::Utf8, kFlags), text);
    case Charset::Utf16Le:
        return encode_with(QStringEncoder(QStringEncoder::Utf16LE, kFlags), text);
    case Charset::Utf16Be:
        return encode_with(QStringEncoder(QStringEncoder::Utf16BE, kFlags), text);
    case Charset::Gb18030: {
        // GB18030 holds every character; what comes back must be the text.
        std::optional<QByteArray> bytes = encode_with(QStringEncoder("GB18030", kFlags), text);
        if (bytes && decode(*bytes, Charset::Gb18030, false) != text)
            return std::nullopt;
        return bytes;
    }
    case Charset::Gbk:
        break;
    }
    const GbkTable &table = GbkTable::instance();
    QByteArray bytes(text.size() * 2, Qt::Uninitialized);
    qsizetype used = 0;
    for (QChar ch : text) {
        const int n = table.encode_char(ch.unicode(), bytes.data() + used);
        if (n == 0)
            return std::nullopt;
        used += n;
    }
    bytes.truncate(used);
    return bytes;
}

QByteArray encode_gbk_for_html(QStringView text)
{
    const GbkTable &table = GbkTable::instance();
    constexpr qsizetype kLongest = 11; // "&#1114111;" and its terminating NUL
    QByteArray out(text.size() * 2 + kLongest, Qt::Uninitialized);
    char *base = out.data();
    qsizetype used = 0, room = out.size();
    const char16_t *chars = text.utf16();
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        if (room - used < kLongest) {
            out.resize(room * 2);
            base = out.data();
            room = out.size();
        }
        const char16_t ch = chars[i];
        if (const int n = table.encode_char(ch, base + used)) {
            used += n;
            continue;
        }
        // A character the code page lacks becomes a reference to its code point.
        char32_t code = ch;
        if (QChar::isHighSurrogate(ch) && i + 1 < size && QChar::isLowSurrogate(chars[i + 1]))
            code = QChar::surrogateToUcs4(ch, chars[++i]);
        used += std::snprintf(base + used, size_t(room - used), "&#%u;", unsigned(code));
    }
    out.truncate(used);
    return out;
}

} // namespace torvale
