#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>

#include <vector>

namespace torvale {

// Code page 936 as Qt's "GBK" codec (ICU) converts it, asked of the codec once
// for every byte, byte pair and character and kept in memory, so that files
// are checked and converted by table look-ups. The table holds only what the
// codec answered: a byte sequence counts as a character when the codec turns
// it into one that it turns back into the same bytes.
class GbkTable
{
public:
    static const GbkTable &instance();

    // The character of a byte (0x80-0xFF) that is no lead byte, or of a
    // pair (lead << 8 | trail); 0 when the code page has none there.
    char16_t char_at(quint16 bytes) const { return m_decodeData[bytes]; }
    // The character that GB18030 reads where GBK reads a user-defined one
    // (FE63 is U+39DF there, U+E828 here); 0 where the two agree.
    char16_t gb18030_char_at(quint16 pair) const { return m_gb18030.value(pair); }
    // The text of bytes that are GBK text.
    QString decode(QByteArrayView bytes) const;
    bool holds(char16_t ch) const { return ch < 0x80 || m_encodeData[ch] != 0; }
    // Writes the one or two bytes of the character to out and returns how
    // many; 0 when the code page lacks the character.
    int encode_char(char16_t ch, char *out) const
    {
        if (ch < 0x80) {
            *out = char(ch);
            return 1;
        }
        const quint16 bytes = m_encodeData[ch];
        if (bytes == 0)
            return 0;
        if (bytes <= 0xFF) {
            *out = char(bytes);
            return 1;
        }
        out[0] = char(bytes >> 8);
        out[1] = char(bytes & 0xFF);
        return 2;
    }

private:
    GbkTable();

    std::vector<char16_t> m_decode; // by byte (0x80-0xFF) or pair (lead << 8 | trail); 0 for none
    const char16_t *m_decodeData = nullptr;
    QHash<quint16, char16_t> m_gb18030;
    std::vector<quint16> m_encode; // by character: its byte or byte pair; 0 for none
    const quint16 *m_encodeData = nullptr;
};

} // namespace torvale
