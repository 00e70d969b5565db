#include "charset.h"

#include "gbktable.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <QStringList>

#include <cstdio>
#include <cstring>

namespace torvale {

namespace {

const QByteArrayView kUtf8Bom("\xEF\xBB\xBF", 3);

bool has_high_byte(QByteArrayView bytes)
{
    for (char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return true;
    }
    return false;
}

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

const QString kUtf16Reason = QStringLiteral("UTF-16 文本，暂不支持");

bool is_utf16_text(QByteArrayView bytes)
{
    return bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF");
}

QString decode_utf16(QByteArrayView bytes)
{
    QStringDecoder decoder(bytes.startsWith("\xFF\xFE") ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE);
    return decoder.decode(bytes.sliced(2));
}

bool is_valid_utf8(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const auto *end = p + bytes.size();
    while (p < end) {
        // Skip ASCII eight bytes at a time where possible.
        if (end - p >= 8) {
            quint64 block;
            std::memcpy(&block, p, 8);
            if ((block & 0x8080808080808080ULL) == 0) {
                p += 8;
                continue;
            }
        }
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

std::optional<Charset> detect_charset(QByteArrayView bytes)
{
    if (std::memchr(bytes.data(), 0, bytes.size()))
        return std::nullopt;
    // Bytes that only look like a byte-order mark are judged as any other.
    if (bytes.startsWith(kUtf8Bom) && is_valid_utf8(bytes))
        return Charset::Utf8Bom;
    if (!has_high_byte(bytes))
        return Charset::Gbk; // plain ASCII reads the same either way
    if (is_valid_utf8(bytes))
        return Charset::Utf8;
    if (GbkTable::instance().is_text(bytes))
        return Charset::Gbk;
    return std::nullopt;
}

void CharsetScan::feed(QByteArrayView piece)
{
    if (m_first) {
        m_first = false;
        m_bom = piece.startsWith(kUtf8Bom);
        m_utf16 = is_utf16_text(piece);
    }
    m_nul = m_nul || std::memchr(piece.data(), 0, size_t(piece.size()));
    if (!has_high_byte(piece))
        return;
    m_high = true;
    m_utf8 = m_utf8 && is_valid_utf8(piece);
    m_gbk = m_gbk && GbkTable::instance().is_text(piece);
    constexpr int kFew = 8;
    for (qsizetype i = 0; i < piece.size() && m_nonAscii < kFew; ++i)
        m_nonAscii += static_cast<unsigned char>(piece[i]) >= 0xC0; // a leading byte of UTF-8
}

std::optional<Charset> CharsetScan::charset() const
{
    if (m_nul || m_utf16)
        return std::nullopt;
    if (m_bom && m_utf8)
        return Charset::Utf8Bom;
    if (!m_high)
        return Charset::Gbk; // plain ASCII reads the same either way
    if (m_utf8)
        return Charset::Utf8;
    if (m_gbk)
        return Charset::Gbk;
    return std::nullopt;
}

QString decode(QByteArrayView bytes, Charset charset)
{
    if (charset != Charset::Gbk) {
        if (charset == Charset::Utf8Bom && bytes.startsWith(kUtf8Bom))
            bytes = bytes.sliced(kUtf8Bom.size());
        // Whatever follows is text, a further U+FEFF included: the decoder
        // must not swallow it as a byte-order mark.
        QStringDecoder decoder(QStringDecoder::Utf8,
                               QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
        return decoder.decode(bytes);
    }
    // Bytes that are not GBK text are never decoded as such (detect_charset).
    return GbkTable::instance().decode(bytes);
}

std::optional<QByteArray> encode(QStringView text, Charset charset)
{
    if (charset != Charset::Gbk) {
        // UTF-8 holds every character but a lone surrogate.
        QStringEncoder encoder(QStringEncoder::Utf8, QStringEncoder::Flag::Stateless);
        QByteArray bytes = encoder.encode(text);
        if (encoder.hasError())
            return std::nullopt;
        return bytes;
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
