#include "gbktable.h"

#include "charset.h"

#include <QList>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QStringList>

namespace torvale {

namespace {

const char kGbkName[] = "GBK";

} // namespace

const GbkTable &GbkTable::instance()
{
    static const GbkTable table;
    return table;
}

GbkTable::GbkTable() : m_decode(65536, 0), m_encode(65536, 0)
{
    // Every character of the Basic Multilingual Plane but the surrogates, one
    // to a line: a line feed is never part of another character, so each
    // comes back as its own line, '?' where the code page lacks it.
    QString chars;
    chars.reserve(2 * 65536);
    for (char32_t c = 0x80; c <= 0xFFFF; ++c) {
        if (c < 0xD800 || c > 0xDFFF) {
            chars += QChar(char16_t(c));
            chars += QLatin1Char('\n');
        }
    }
    QStringEncoder encoder(kGbkName, QStringEncoder::Flag::Stateless);
    const QByteArray encoded = encoder.encode(chars);
    const QList<QByteArray> lines = encoded.split('\n');
    qsizetype i = 0;
    for (char32_t c = 0x80; c <= 0xFFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        const QByteArray &bytes = lines.value(i++);
        if (bytes.size() == 1 && bytes[0] != '?')
            m_encode[c] = static_cast<unsigned char>(bytes[0]);
        else if (bytes.size() == 2)
            m_encode[c] =
                quint16(static_cast<unsigned char>(bytes[0]) << 8 | static_cast<unsigned char>(bytes[1]));
    }

    // Every byte of 0x80 and above that is no lead byte, and every pair.
    QByteArray probe;
    QList<quint16> keys;
    for (int b = 0x80; b <= 0xFF; ++b) {
        if (!is_gbk_lead(b)) {
            probe += char(b);
            probe += '\n';
            keys << quint16(b);
        }
    }
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            probe += char(lead);
            probe += char(trail);
            probe += '\n';
            keys << quint16(lead << 8 | trail);
        }
    }
    QStringDecoder decoder(kGbkName, QStringDecoder::Flag::Stateless);
    const QStringList decoded = QString(decoder.decode(probe)).split(QLatin1Char('\n'));
    for (qsizetype k = 0; k < keys.size() && k < decoded.size(); ++k) {
        const QString &ch = decoded[k];
        // Kept only when it is one character that converts back to the same bytes.
        if (ch.size() == 1 && ch[0] != QChar::ReplacementCharacter && m_encode[ch[0].unicode()] == keys[k])
            m_decode[keys[k]] = ch[0].unicode();
    }
    // A character the codec writes as bytes that read back as another one
    // (a best fit) counts as missing from the code page: writing it would
    // change the text.
    for (char32_t c = 0x80; c <= 0xFFFF; ++c) {
        if (m_encode[c] != 0 && m_decode[m_encode[c]] != c)
            m_encode[c] = 0;
    }
    m_encodeData = m_encode.data();
    m_decodeData = m_decode.data();

    // GB18030 shares every pair with GBK, but reads some that GBK leaves to
    // user-defined characters as standard ones (FE63 is U+39DF there).
    QByteArray userDefined;
    QList<quint16> pairs;
    for (int pair = 0x8140; pair <= 0xFEFE; ++pair) {
        if (m_decode[pair] >= 0xE000 && m_decode[pair] <= 0xF8FF) {
            userDefined += char(pair >> 8);
            userDefined += char(pair & 0xFF);
            userDefined += '\n';
            pairs << quint16(pair);
        }
    }
    QStringDecoder gb18030("GB18030", QStringDecoder::Flag::Stateless);
    const QStringList read = QString(gb18030.decode(userDefined)).split(QLatin1Char('\n'));
    for (qsizetype k = 0; k < pairs.size() && k < read.size(); ++k) {
        const QString &ch = read[k];
        if (ch.size() == 1 && (ch[0].unicode() < 0xE000 || ch[0].unicode() > 0xF8FF) &&
            ch[0] != QChar::ReplacementCharacter)
            m_gb18030.insert(pairs[k], ch[0].unicode());
    }
}

QString GbkTable::decode(QByteArrayView bytes) const
{
    QString text(bytes.size(), Qt::Uninitialized);
    char16_t *out = reinterpret_cast<char16_t *>(text.data());
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype o = 0;
    for (qsizetype i = 0; i < n;) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            out[o++] = c;
            ++i;
        } else if (is_gbk_lead(c) && i + 1 < n) {
            out[o++] = m_decode[c << 8 | p[i + 1]];
            i += 2;
        } else {
            out[o++] = m_decode[c];
            ++i;
        }
    }
    text.truncate(o);
    return text;
}

} // namespace torvale
