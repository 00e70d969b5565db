#include "charset.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <cstring>

namespace torvale {

namespace {

const char kGbkName[] = "GBK";
const QByteArrayView kUtf8Bom("\xEF\xBB\xBF", 3);

bool has_high_byte(QByteArrayView bytes)
{
    for (char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return true;
    }
    return false;
}

bool is_gbk_text(QByteArrayView bytes)
{
    QStringDecoder decoder(kGbkName, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return false;
    QStringEncoder encoder(kGbkName, QStringEncoder::Flag::Stateless);
    const QByteArray back = encoder.encode(text);
    return !encoder.hasError() && back == bytes;
}

} // namespace

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
    if (bytes.startsWith(kUtf8Bom))
        return is_valid_utf8(bytes) ? std::optional(Charset::Utf8Bom) : std::nullopt;
    if (!has_high_byte(bytes))
        return Charset::Gbk; // plain ASCII reads the same either way
    if (is_valid_utf8(bytes))
        return Charset::Utf8;
    if (is_gbk_text(bytes))
        return Charset::Gbk;
    return std::nullopt;
}

QString decode(QByteArrayView bytes, Charset charset)
{
    switch (charset) {
    case Charset::Utf8Bom:
        if (bytes.startsWith(kUtf8Bom))
            bytes = bytes.sliced(kUtf8Bom.size());
        return QString::fromUtf8(bytes);
    case Charset::Utf8:
        return QString::fromUtf8(bytes);
    case Charset::Gbk:
        break;
    }
    QStringDecoder decoder(kGbkName, QStringDecoder::Flag::Stateless);
    return decoder.decode(bytes);
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
    QStringEncoder encoder(kGbkName, QStringEncoder::Flag::Stateless);
    QByteArray bytes = encoder.encode(text);
    if (encoder.hasError())
        return std::nullopt;
    return bytes;
}

QByteArray encode_gbk_for_html(QStringView text)
{
    if (auto bytes = encode(text, Charset::Gbk))
        return *bytes;

    // Slow path, only for texts that hold a character outside the code page:
    // character by character, each one the code page lacks as a reference.
    QByteArray out;
    out.reserve(text.size() * 2);
    std::optional<QStringEncoder> encoder(std::in_place, kGbkName, QStringEncoder::Flag::Stateless);
    for (qsizetype i = 0; i < text.size();) {
        const bool pair = text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        const QStringView ch = text.mid(i, pair ? 2 : 1);
        const QByteArray bytes = encoder->encode(ch);
        if (encoder->hasError()) {
            // A fresh encoder: an error sticks to the one that met it.
            encoder.emplace(kGbkName, QStringEncoder::Flag::Stateless);
            const char32_t code = pair ? QChar::surrogateToUcs4(ch[0], ch[1]) : ch[0].unicode();
            out += "&#" + QByteArray::number(quint32(code)) + ';';
        } else {
            out += bytes;
        }
        i += ch.size();
    }
    return out;
}

QString charset_name(Charset charset)
{
    switch (charset) {
    case Charset::Gbk:
        return QStringLiteral("GBK");
    case Charset::Utf8:
        return QStringLiteral("UTF-8");
    case Charset::Utf8Bom:
        return QStringLiteral("UTF-8（带BOM）");
    }
    return {};
}

} // namespace torvale
