#pragma once

#include <QByteArray>
#include <QByteArrayView>
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

    // True when every character of the bytes converts and converts back.
    bool is_text(QByteArrayView bytes) const;
    // The text of bytes for which is_text holds.
    QString decode(QByteArrayView bytes) const;
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
    std::vector<quint16> m_encode;  // by character: its byte or byte pair; 0 for none
    const quint16 *m_encodeData = nullptr;
};

} // namespace torvale
